// What a new copy takes besides its bytes, before it is flushed: owner, bits, ACL, attributes,
// time, in the order and with the failures that durable_copy.hpp states.
#pragma once

#include <sys/stat.h>

#include "console/linux/path_walk.hpp"
#include "console/linux/result.hpp"

namespace linux_shell {

/// Gives the new file `fd` what it takes from `source` (the status of the source) and from the
/// `target` it replaces, then flushes it. Fails only where the target's ACL cannot be read, or
/// cannot be given to the copy while the copy may grant more than the target did, or the flush
/// fails.
Result finish_copy(int fd, const struct stat& source, const Place& target);

/// Flushes the file `fd`. A file system that cannot flush a file (EINVAL, ENOSYS, EOPNOTSUPP)
/// has nothing more to give: no failure.
Result flush(int fd);

/// Gives the file `fd` the modification time `modified`. Best effort, as for cp.
void take_time(int fd, const struct timespec& modified);

}  // namespace linux_shell
