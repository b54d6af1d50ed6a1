// The program's texts as the end-to-end tests expect them, typed out here once for all of them and
// never taken from the program's sources, so that a changed text fails the tests. Line ends are
// plain line feeds; each test turns them into what its console shows and adds what only its
// platform shows (how the screen is cleared, the pauses, command lines and reports).
#pragma once

#include <array>
#include <string>

namespace texts {

/// The three settings files, in the order the program handles them.
inline const std::array<const char*, 3> kNames = {"SkAux.ini", "SkulvaneUser.ini",
                                                  "SkLoadouts.ini"};

inline const std::string kDisclaimer =
    "By using this program you agree that the author is not"
    "\nresponsible for any problems that this program may cause.\n\n";
/// The menu, without the clearing of the screen before it.
inline const std::string kMenu =
    "Welcome to sk-backup version 1.0"
    "\n\n\nWhat would you like to do?"
    "\n\n1)  Back up all files(you will lose any previously backed up files)."
    "\n2)  Back up files individually(you will lose any previously backed up files)."
    "\n3)  Restore all files from backup(if backup exists)."
    "\n4)  Restore files individually(if backup exists)."
    "\n\nX)  Exit.\n\n";
inline const std::string kInvalid = "\n\nInvalid input, enter either 1, 2, 3, 4, or X.\n";
inline const std::string kYesNo = "\nY for yes, anything else for no.\n";

inline const std::string kMakeFolder = "Attempting to create directory Skulvane_Backups\t";
inline const std::string kBackupDone = "\nFile backup complete.\n";
inline const std::string kRestoreAllAsk =
    "Are you sure you want to overwrite your current files with the backed up files?" + kYesNo;
inline const std::string kRestoreAllDone = "\nFile restore complete.\n";
inline const std::string kRestoreEachDone = "\n\nFile restore complete\n";

// One text per file, in the order of kNames: the message before each copy of "back up all" and
// "restore all", and the question of "back up individually" and "restore individually" with the
// message before each copy answered yes.
inline const std::array<std::string, 3> kBackupAllMsg = {
    "\n\nAttempting to back up SkAux.ini\t\t", "\nAttempting to back up SkulvaneUser.ini\t",
    "\nAttempting to back up SkLoadouts.ini\t"};
inline const std::array<std::string, 3> kRestoreAllMsg = {
    "\n\nAttempting to restore SkAux.ini\t\t", "\n\nAttempting to restore SkulvaneUser.ini\t",
    "\n\nAttempting to restore SkLoadouts.ini\t"};
inline const std::array<std::string, 3> kBackupAsk = {
    "\n\nWould you like to back up SkAux.ini?"
    "\n(contains video, audio, and misc. network config. data)" +
        kYesNo,
    "\n\nWould you like to back up SkulvaneUser.ini?\n(contains keybinds)" + kYesNo,
    "\n\nWould you like to back up SkLoadouts.ini?\n(contains Loadouts)" + kYesNo};
inline const std::array<std::string, 3> kBackupEachMsg = {
    "\nAttempting to back up SkAux.ini\t\t", "\nAttempting to back up SkulvaneUser.ini\t",
    "\nAttempting to back up SkLoadouts.ini\t"};
inline const std::array<std::string, 3> kRestoreAsk = {
    "Would you like to restore SkAux.ini?"
    "\n(contains video, audio, and misc. network config. data)" +
        kYesNo,
    "\n\nWould you like to restore SkulvaneUser.ini?\n(contains keybinds)" + kYesNo,
    "\n\nWould you like to restore SkLoadouts.ini?\n(contains Loadouts)" + kYesNo};
inline const std::array<std::string, 3> kRestoreEachMsg = {
    "\nAttempting to restore SkAux.ini\t\t", "\nAttempting to restore SkulvaneUser.ini\t",
    "\nAttempting to restore SkLoadouts.ini\t"};

// What the Linux program's own md and copy write in place of the interpreter's reports.
inline const std::string kFolderExists = "Folder Skulvane_Backups already exists.\n";
inline const std::string kCopied = "1 file copied.\n";

}  // namespace texts
