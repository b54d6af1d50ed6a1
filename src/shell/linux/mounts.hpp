// Whose mount an entry is on, told without asking the file system itself.
//
// A FUSE file system answers through a program of the user that mounted it; while that program
// is stopped, every call that asks it (fstatat, fstat or fstatfs on a handle, a read) waits for
// as long as it stays stopped, and a signal does not end the wait. So an entry is looked at with
// statx, which takes the status the kernel holds (AT_STATX_DONT_SYNC) and the mount's id, and a
// mount not seen before is looked up in the kernel's own records: by statmount (Linux 6.8), and
// in /proc/self/mountinfo for a FUSE mount's user or where statmount is missing or refused.
// Nothing here fails: where the kernel gives no mount id (before Linux 5.8) or neither can be
// read, no mount can be told, and each is taken as the system's own.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "shell/linux/result.hpp"

namespace linux_shell {

/// The status of `name` in the folder `folder` (of `folder` itself for ""), not following a
/// link, as the kernel holds it, and the id of the mount it is on in `mount` (0 where the kernel
/// cannot tell). Fails where there is no such entry.
Result look_at(int folder, const char* name, struct stat& st, std::uint64_t& mount);

/// Refuses an entry (named `shown` in a report) on the mount `mount`: the kernel's files (proc,
/// sysfs), or a FUSE mount of a user other than `user` (the one the program runs as) and root.
/// A mount once allowed is remembered, so that it is looked up only the first time it is met.
Result check_mount(std::uint64_t mount, const std::string& shown, uid_t user);

/// True where check_mount() allowed `mount` and found it no FUSE mount: a file system that the
/// kernel answers for, whose inode numbers tell one file from another.
bool known_and_not_fuse(std::uint64_t mount);

}  // namespace linux_shell
