// A run as root in a folder that belongs to another user runs as that user.
//
// Under sudo in a player's game folder, the program does there only what the player could do:
// it reads only what the player may read and makes or changes only what the player may, so a
// link the player plants leads nowhere the player could not go, and what it makes is the
// player's. A run as root in a folder that root owns stays root.
#pragma once

#include "console/posix/reason.hpp"

namespace console {

/// When the effective user is root and the current folder belongs to another user, becomes that
/// user for good: the folder's owner and group as real, effective and saved ids, and no
/// supplementary groups; nothing is looked up in the user database. Call once, first thing at
/// start. Gives nullptr also where there is nothing to do; a reason means the program is still
/// root and must end before it touches anything.
Reason become_folder_owner();

}  // namespace console
