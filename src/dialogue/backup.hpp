// The four operations of the menu. Each clears the screen first, reaches the disk only through
// console::run_command, does not look at what a command achieved, and leaves its output on the
// screen for the pause that follows.
#pragma once

namespace backup {

/// Creates the backup folder and copies all three settings files into it, asking nothing.
void back_up_all();

/// Creates the backup folder, then asks for each settings file whether to back it up.
void back_up_each();

/// Asks once for the whole set; on yes copies all three backup copies over the live files,
/// on anything else does nothing more.
void restore_all();

/// Asks for each settings file whether to restore it from its backup copy.
void restore_each();

}  // namespace backup
