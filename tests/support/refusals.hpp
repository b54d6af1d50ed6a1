// Texts of the Linux layer's refusals that tests of several layers check whole.
#pragma once

#include <string>

namespace support {

/// The end of the refusal of a link by a run that stays root.
inline const std::string kNoLinkAsRoot =
    ": a run as root follows no link; run sk-backup as the player who plays the game, or replace "
    "the link by what it links to\n";

/// The end of a refusal to act as root where a player should act.
inline const std::string kNotAsRoot = ": run sk-backup as a player, not as root";

}  // namespace support
