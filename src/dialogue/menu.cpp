#include "dialogue/menu.hpp"

#include "dialogue/backup.hpp"
#include "dialogue/console.hpp"
#include "sk_backup_version.hpp"

namespace menu {

namespace {

constexpr const char* kDisclaimer[] = {
    "By using this program you agree that the author is not",
    "\nresponsible for any problems that this program may cause.",
};

constexpr const char* kMenu[] = {
    version::kBanner,
    "\n\n\nWhat would you like to do?",
    "\n\n1)  Back up all files(you will lose any previously backed up files).",
    "\n2)  Back up files individually(you will lose any previously backed up files).",
    "\n3)  Restore all files from backup(if backup exists).",
    "\n4)  Restore files individually(if backup exists).",
    "\n\nX)  Exit.\n\n",
};

constexpr const char* kInvalidChoice = "\n\nInvalid input, enter either 1, 2, 3, 4, or X.";

/// A menu key and the operation it runs.
struct MenuEntry {
  const char* key;
  void (*run)();
};

constexpr MenuEntry kMenuEntries[] = {
    {"1", backup::back_up_all},
    {"2", backup::back_up_each},
    {"3", backup::restore_all},
    {"4", backup::restore_each},
};

constexpr const char* kExitKey = "X";

/// Runs the operation bound to `choice`, or says that it is no choice at all.
void act_on(const console::Answer& choice) {
  if (console::matches(choice, kExitKey)) {
    return;
  }
  for (const MenuEntry& entry : kMenuEntries) {
    if (console::matches(choice, entry.key)) {
      entry.run();
      return;
    }
  }
  console::write(kInvalidChoice);
  console::end_line();
}

}  // namespace

int run() {
  console::clear_screen();
  for (const char* message : kDisclaimer) {
    console::write(message);
  }
  console::end_line();
  console::end_line();
  console::pause();

  for (;;) {
    console::clear_screen();
    for (const char* message : kMenu) {
      console::write(message);
    }
    const console::Answer choice = console::read_answer();
    // Once the input has ended no choice can come any more: the run ends as after X.
    if (console::input_ended(choice)) {
      console::pause();
      return 0;
    }
    act_on(choice);
    console::pause();
    if (console::matches(choice, kExitKey)) {
      return 0;
    }
  }
}

}  // namespace menu
