// The run of the program: the disclaimer, then the menu, a choice and its operation, cycle after
// cycle, until X or the end of the input. It reaches the world only through console.hpp.
#pragma once

namespace menu {

/// Clears the screen, shows the disclaimer and pauses; then, until the player chooses X or the
/// input ends, clears the screen, shows the menu, reads a choice, runs its operation (or says
/// that it is none) and pauses. Returns the exit status: always 0.
int run();

}  // namespace menu
