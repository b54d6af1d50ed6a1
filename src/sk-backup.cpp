// sk-backup: keeps a safety copy of Skulvane's three settings files and puts them back.
// Start it in the game's base folder, the one that holds System.

#include "dialogue/console.hpp"
#include "dialogue/menu.hpp"
#include "shell/shell.hpp"

int main() {
  // A closed standard stream is opened on the null device first, so that no file opened later
  // can take its place; the dialogue's command lines go to the platform's shell.
  shell::open_closed_standard_streams();
  console::start(shell::run_command);
  shell::prepare_platform();
  return menu::run();
}
