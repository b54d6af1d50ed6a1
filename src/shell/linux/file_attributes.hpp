// What a new copy takes besides its bytes, before it is flushed: owner, bits, ACL, attributes,
// time, in the order and with the failures that durable_copy.hpp states.
#pragma once

#include <sys/stat.h>

#include "shell/linux/file_readers.hpp"
#include "shell/linux/path_walk.hpp"
#include "shell/linux/result.hpp"

namespace linux_shell {

/// Gives the new file `fd` what it takes from `source` (the status of the source, read by
/// `readers`) and from the `target` it replaces, then flushes it; the copy lets no one read it
/// whom the source does not let (file_readers.hpp), and is handed to the target's owner only
/// where that owner may read the source. Fails only where the target's ACL cannot be read, or
/// cannot be given to the copy while the copy may grant more than the target did, who may read
/// the copy cannot be narrowed, or the flush fails.
Result finish_copy(int fd, const struct stat& source, const Readers& readers, const Place& target);
}  // namespace linux_shell
