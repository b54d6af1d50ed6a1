// The copy of a file's old bytes that is on disk before the copy in place writes into it, so
// that no failure, kill or power cut in the middle can cost them.
//
// Where: beside the source of the copy (for a restore, the backup folder), where the user may
// write it and that folder is theirs alone (owned by the user the run acts as, and no group or
// other write bit); else in that user's state folder, $XDG_STATE_HOME/sk-backup or
// ~/.local/state/sk-backup, made where missing with mode 0700 and again theirs alone. The
// environment is read only where the program still runs as the user who started it and that is
// not root; otherwise (a run as root, or one that became the game folder's owner) the home
// folder is the one /etc/passwd gives (user_database.hpp). Every folder below the start is
// opened by handle without following links.
// How: under a fresh name "<target name>.sk-backup-old-<8 hex digits>", made with O_EXCL and
// O_NOFOLLOW, mode 0600, and flushed with its folder before make_recovery_copy() returns. On a
// file system that shares extents (btrfs, xfs) it is a clone of the target, which takes no room
// for the bytes: it can be made on a full volume. A signal that ends the program removes it, except
// while the copy in place holds every signal (in_place_copy.hpp); a kill (SIGKILL) or a power cut
// leaves it, with the old bytes, for the player. Failures: where neither folder takes it, the
// result says why for each, and the copy in place is not made.
#pragma once

#include <string>
#include <string_view>

#include "shell/linux/files.hpp"
#include "shell/linux/result.hpp"

namespace linux_shell {

/// A recovery copy of this run: removed when it goes, unless kept.
struct RecoveryCopy {
  Fd folder;          ///< a handle of the folder that holds it
  std::string name;   ///< its name there, once made
  std::string shown;  ///< how a report names it: a path the player can use
  bool kept = false;  ///< it stays on disk (the target is damaged)

  RecoveryCopy() = default;
  RecoveryCopy(const RecoveryCopy&) = delete;
  RecoveryCopy& operator=(const RecoveryCopy&) = delete;
  ~RecoveryCopy();
};

/// Records who started the program, before it changes user: the environment speaks for that
/// user only. Call once, first thing at start.
void remember_starting_user();

/// Makes a new recovery copy of the target `target` (open, named `target_name`), whose bytes
/// are the `size` at `bytes`, beside the source named `source_written` on the command line where
/// it can, else in the state folder, and flushes it.
Result make_recovery_copy(std::string_view source_written, int target,
                          const std::string& target_name, const char* bytes, std::size_t size,
                          RecoveryCopy& copy);

/// Keeps `copy` on disk for good: from now on neither its owner nor a signal removes it.
void keep_recovery_copy(RecoveryCopy& copy);

}  // namespace linux_shell
