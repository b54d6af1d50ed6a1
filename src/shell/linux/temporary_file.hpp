// The temporary file that a copy writes before it takes its target's place. Only ever the
// program's own: nothing but a file this program made is removed, and no name that anyone else
// holds blocks or delays a copy.
//
// The protocol of one replacement of TARGET, all relative to the handle of TARGET's folder:
//   1. create(): a leftover of an earlier run under TARGET's fixed name (below) is
//      removed; then a new file is made in the folder, anonymous where the file system has
//      anonymous files (O_TMPFILE: ext4, xfs, btrfs, tmpfs), else under a name, and locked.
//   2. The caller writes the file, gives it its owner, mode, ACL, attributes and times and
//      flushes it.
//   3. commit(): an anonymous file gets a name (linkat) only now that it is complete, and
//      is flushed again on btrfs, where a flush of an unnamed file does nothing; the name is
//      checked to be still this very file; then it is renamed over TARGET. Except on btrfs, an
//      anonymous file is named, checked and renamed (or its name removed) with every signal
//      held, so that no signal ever finds it named. The descriptor stays
//      open, so that the caller can flush the folder through it where the folder cannot be read.
//   A TemporaryFile that goes before step 3 is done removes its name and closes: TARGET is then
//   as it was.
// Names: the first choice is fixed and short, ".sk-backup-" and sixteen hex digits derived
// from TARGET's name. Where anything holds it that is not this user's removable leftover
// (another user's file, a folder, a FIFO, a link, a file whose lock another process holds or
// whose lock cannot be taken), the copy takes a fresh unpredictable name of the same form at
// once, decided by the EEXIST of the very call that makes the name: no copy waits, none fails
// for a name.
// The lock: a copy holds its file's lock from its creation until it is renamed or removed. A
// leftover is removed only when it is a regular file with one link, owned by this user, whose
// lock this run takes, and is still that same file when it is removed. A lock that cannot be
// taken (a file system without locks) means busy, never free.
// Leftovers: each copy removes the leftover under its target's fixed name. Where anything had
// that name (runs at once, or killed ones), it also reads the folder, where it may, and removes
// by the same rule every leftover under a fresh name of the same form; otherwise the folder is
// not read.
// A signal that ends the program removes the named file first (fatal_signals.hpp).
// A kill (SIGKILL) or a power cut: while the file is anonymous (all of the writing and the
// flush) nothing is left in the folder. Only in the short time between link and rename, or
// where the file system has no anonymous files, is a named file left: under the fixed name the
// next copy of the same TARGET removes it; under a fresh name, the first copy into that folder
// that finds its fixed name taken.
#pragma once

#include <sys/stat.h>

#include <string>

#include "shell/linux/files.hpp"
#include "shell/linux/result.hpp"

namespace linux_shell {

/// The first-choice name of a temporary file for a target named `target_name`.
std::string temporary_name_for(const std::string& target_name);

/// A temporary file of this run, discarded when it goes unless it took its target's place. It
/// has a name in its folder exactly while the signal handlers know that name.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  /// Step 1 in the folder `folder` (a handle, the caller's: it outlives this) for the target
  /// named `target_name`; `folder_shown` names the folder in a failure ("no new file could be
  /// made in System: ...").
  Result create(int folder, const std::string& target_name, const std::string& folder_shown);

  /// The file, open for reading and writing, and locked where locks work.
  int descriptor() const {
    return fd_.get();
  }

  /// Step 3: the file becomes `target_name` in its folder.
  Result commit(const std::string& target_name);

 private:
  Result create_named(const std::string& target_name, const std::string& folder_shown);
  Result link_anonymous(const std::string& target_name, bool held);
  Result link_and_rename(const struct stat& own, const std::string& target_name);
  bool record_name(const std::string& name, bool made);
  void forget_name();

  Fd fd_;
  int folder_ = -1;
  bool named_ = false;  // the file has `name_` in the folder, and the signal handlers know it
  std::string name_;
};

}  // namespace linux_shell
