// The one copy that writes into its target: where the folder lets no new file take the
// target's place.
//
// When: decided before anything is made or linked in the folder, and only where the folder
// says so: the user may not write or enter it (EACCES), or it is sticky and neither it nor the
// target is the user's, or it is append-only (there a temporary could be named but never
// renamed or removed). This is how a player restores a file she may write in a shared install
// whose folder is root's, as cp does.
// What it keeps: it refuses a target with more than one link (the other names would share the
// damage) and a file over 64 MiB on either side; it reads the whole source, and the target's
// old bytes, into memory before it touches the target; it reserves the new length where the
// file system allows (a hint only); it writes the bytes, the length and the source's time, and
// flushes. On any failure it writes back the old bytes, length and times. Where even that fails
// the report says that the target is now damaged, and which file it is.
// A kill (SIGKILL) or a power cut part-way can still leave the target damaged: this copy is not
// all or nothing.
#pragma once

#include <sys/stat.h>

#include "console/linux/path_walk.hpp"
#include "console/linux/result.hpp"

namespace linux_shell {

/// Whether a copy onto `target` (which exists) must be written in place, by the rule above, in
/// `in_place`. Fails, with the folder's reason, where the folder cannot be asked.
Result must_write_in_place(const Place& target, bool& in_place);

/// Writes the source `in` (whose status is `source`) into `target` in place.
Result write_in_place(int in, const struct stat& source, const Place& target);

}  // namespace linux_shell
