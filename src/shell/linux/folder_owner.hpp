// A run as root in a folder that belongs to another user runs as that user.
//
// Under sudo in a player's game folder, the program does there only what the player could do:
// it becomes the folder's owner with that owner's own groups, as `sudo -u OWNER` gives them (the
// primary group of /etc/passwd and the groups of /etc/group), never the folder's group. It then
// reads only what the player may read and makes or changes only what the player may, so a link
// the player plants leads nowhere the player could not go, and what it makes is the player's.
// An owner that /etc/passwd does not know (a user of LDAP, sssd or systemd-homed, or one that
// was deleted) is refused, as is a system that does not let the groups be set (a container):
// the program then ends having done nothing. A run as root in a folder that root owns stays
// root; path_walk.hpp says what such a run refuses to enter.
#pragma once

#include "shell/linux/result.hpp"

namespace linux_shell {

/// When the effective user is root and the current folder belongs to another user, becomes that
/// user for good (real, effective and saved ids, the owner's groups). Call once, first thing at
/// start. Fails, with the whole line to show as its text (without its line feed), where the
/// program is still root and must end before it touches anything.
Result become_folder_owner();

}  // namespace linux_shell
