// Names resolved by handles, one at a time, trusting nothing that another user controls.
//
// The rule: a copy never goes where the user it runs as could not go safely on their own.
// - A name of a command line is resolved from the current folder's handle down, name by name
//   (openat with O_PATH | O_NOFOLLOW), each looked up as Windows looks it up (windows_names.hpp)
//   in the folder just reached. Every later step (open, make, link, rename, flush) is relative
//   to the handle of the folder found, so nothing swapped in between changes what is touched.
// - Every entry reached, the last name included, is first looked at with statx, which asks no
//   FUSE server, and an entry on a mount not seen before is refused where the mount is the
//   kernel's files (proc, sysfs) or another user's FUSE mount (mounts.hpp): its server could
//   answer anything, or never.
// - A symbolic link is followed, and a file with other names (hard links) used, only where no
//   other user could have put it there: it belongs to the user the program runs as, or to root,
//   and every folder from the one the walk starts in (or the last followed link landed in) down
//   to the one holding it may be written by that user and root alone (folder_writers.hpp). A
//   link may lead outside the game folder (Wine and Steam libraries use absolute links).
// - A run that stays root (a game folder of root's; folder_owner.hpp) follows no symbolic link
//   at all (the start folder is opened as it is, so a link above it is the system's own
//   business), and enters no folder from the game folder down that anyone but root may write:
//   a folder of another user's, or one with a group or other write bit (with an ACL, the group
//   bits are its mask, which bounds every named entry). So no link, hard link, file or
//   temporary file in its way can be another user's.
// Failures: a refusal names what is in the way and says what to do instead; nothing on disk is
// changed by a walk.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "shell/linux/files.hpp"
#include "shell/linux/result.hpp"

namespace linux_shell {

/// Where a name of a command line leads: an entry of a folder, after any links.
struct Place {
  Fd folder;                 ///< the folder holding the entry (an O_PATH handle)
  std::string name;          ///< the entry's name in that folder
  bool exists = false;       ///< an entry of that name is there (never a link)
  struct stat st {};         ///< the entry's status, where it exists
  std::string shown;         ///< how a report names the entry
  std::string folder_shown;  ///< how a report names the folder
  uid_t user = 0;            ///< the user the walk was made as (the program's effective user)
};

/// What a name is resolved for: a link to nothing is refused only where it would be written.
enum class Walking { to_read, to_write };

/// Resolves `written` (names separated by backslashes or slashes; a leading one starts at the
/// root) by the rules above. A last name that does not exist gives a Place that does not
/// exist, in the folder where it would be made, except through a link: a link to nothing is
/// refused where the walk is `to_write`, and else fails as missing.
Result walk(std::string_view written, Walking walking, Place& place);

/// Flushes the folder of `place`, where an entry was just made or renamed (files.hpp:
/// flush_folder): through a handle of it that can be read (kept for the session's later flushes
/// where the walk keeps the folder), else with its whole file system through `file`, an open
/// descriptor on it (-1 where there is none: the failure to open the folder is then the result).
Result flush_folder_of(const Place& place, int file);

}  // namespace linux_shell
