// Folders' handles kept from one walk to the next, so that a session's copies do not open the
// same folders again for each copy.
//
// A kept handle is used only where a statx of the name, in the folder it was found in (or of
// the path a walk starts from), gives that very folder on that very mount now: then it is what
// an open would give, and the walk makes every check again on that fresh status. Folders are
// kept only on a mount that the kernel answers for (never FUSE, whose servers choose their
// inode numbers), and a kept handle holds its folder, so that its inode number cannot pass to
// another. Kept handles are never closed while the program runs: a Place borrows them. A child
// process forgets them (its descriptors are its own business: it may close them all).
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "shell/linux/files.hpp"

namespace linux_shell {

/// Where a kept folder was found: the device and inode of the folder that holds it (both 0 for
/// a path a walk starts from) and its name there (or that path).
struct FoundIn {
  dev_t device;
  ino_t inode;
  const char* name;
};

/// The kept handle of the folder found as `found` whose status is `st` on `mount` now; -1
/// where none is kept.
int kept_folder(const FoundIn& found, const struct stat& st, std::uint64_t mount);

/// True when any folder is kept (a walk then looks at each entry before it opens it).
bool any_folder_kept();

/// Keeps `folder`, a fresh handle of the folder found as `found` with the status `st` on
/// `mount`, where there is room and its mount allows: `folder` is then lent by the kept ones.
void keep_folder(Fd& folder, const FoundIn& found, const struct stat& st, std::uint64_t mount);

/// A readable handle of the kept folder `fd`, opened at its first use and kept with it; -1 (with
/// errno set) where it cannot be opened. `kept` says whether `fd` is a kept folder at all.
int kept_readable(int fd, bool& kept);

}  // namespace linux_shell
