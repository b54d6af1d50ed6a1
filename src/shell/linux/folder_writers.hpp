// Who besides the user the program runs as, and root, may write a folder.
//
// Renaming an entry into a folder, or a folder into its parent, needs only the right to write
// the folder it lands in. So a link, or a file with other names, could have been put where it
// is by anyone who may write a folder on its way, and is used only where no one else may: where
// every folder from the one a walk starts in (or a followed link lands in) down to the one that
// holds it belongs to the user or root, has no other-write bit, no ACL entry that lets anyone
// else write it, and a group write bit only for the user's private group (user_database.hpp), as
// Debian gives each user with the umask 002: a player's own `drwxrwxr-x player player` folders
// are the player's alone.
// Nothing here fails: an ACL that cannot be read counts as one that lets the group write.
#pragma once

#include <sys/stat.h>

#include <string>

namespace linux_shell {

/// Who else may write a folder, the first found: its owner, anyone, a group or a user of its ACL.
struct Writers {
  enum class Kind { none, owner, anyone, group, user } kind = Kind::none;
  unsigned id = 0;     ///< the owner, group or user
  std::string folder;  ///< how a report names the folder
};

/// Who besides `user` (the one the program runs as) and root may write the folder `fd` (an O_PATH
/// handle, whose status is `st`), named `shown`. Reads the folder's ACL only where its group may
/// write it and the group is the user's own.
Writers folder_writers(int fd, const struct stat& st, const std::string& shown, uid_t user);

/// Why an entry found below `writers`' folder is not used: "System may be written by group
/// players, so another player could have put it there".
std::string could_have_put_it_there(const Writers& writers);

}  // namespace linux_shell
