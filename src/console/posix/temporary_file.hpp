// The temporary file that a copy writes before it takes its target's place. Only ever the
// program's own: nothing but a file this program made under the one name below is removed.
//
// The protocol of one replacement of TARGET:
//   1. create_temporary(): a name left by an earlier run (below) is removed; then a new file is
//      made in TARGET's folder, anonymous where the file system has anonymous files (O_TMPFILE:
//      ext4, xfs, btrfs, tmpfs), else under TARGET's temporary name, and locked. The name is
//      fixed and short: ".sk-backup-" and sixteen hex digits derived from TARGET's name.
//   2. The caller writes the file, gives it its mode and times and flushes it.
//   3. put_in_place(): an anonymous file gets the temporary name (linkat) only now that it is
//      complete, and is flushed again on btrfs, where a flush of an unnamed file does nothing;
//      then it is renamed over TARGET and closed. The caller then flushes the folder.
//   On a failure in 1 to 3 the caller calls discard_temporary(): the file is gone, TARGET is as
//   it was.
// The lock: a copy holds its file's lock from its creation until it is renamed or removed, so
// two runs never take each other's file. A name found at step 1 or 3 is removed only when it is
// a regular file with one link, owned by this user, whose lock can be taken, and is still that
// same file when it is removed; one that a running copy holds is waited for (at most 10 s).
// A signal that ends the program removes the named file first (fatal_signals.hpp).
// A kill (SIGKILL) or a power cut: while the file is anonymous (all of the writing and the
// flush) nothing is left in the folder. Only in the short time between link and rename, or
// where the file system has no anonymous files, is a named file left; the next copy of the same
// TARGET removes it at step 1, without reading the folder.
#pragma once

#include <string>

#include "console/posix/reason.hpp"

namespace console {

/// A temporary file of this run.
struct TemporaryFile {
  int fd = -1;         ///< open for reading and writing, and locked; -1 once closed
  bool named = false;  ///< the file has its name in the folder (and the signal handlers know it)
  std::string path;    ///< the temporary name, in the target's folder
};

/// The temporary name of a copy onto `target`: in `target`'s folder, the same for every run.
std::string temporary_name_for(const std::string& target);

/// Step 1 for `target` (the path of the file itself, not of a link to it). On failure, errno
/// holds the reason too (EACCES or EPERM: the folder takes no new file) and nothing is left.
Reason create_temporary(const std::string& target, TemporaryFile& file);

/// Step 3: `file` becomes `target`. On failure errno holds the reason too (EPERM or EACCES
/// from the rename: the folder lets no new file take the target's place); `file` is then as it
/// was or named, and the caller discards it.
Reason put_in_place(TemporaryFile& file, const std::string& target);

/// Removes `file` from its folder where it has a name there, and closes it.
void discard_temporary(TemporaryFile& file);

}  // namespace console
