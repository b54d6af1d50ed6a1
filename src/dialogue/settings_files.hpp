// The three settings files, in the order every operation handles them, with all the texts
// and command lines that belong to one file.
#pragma once

namespace backup {

/// One settings file. Texts that look alike differ on purpose (leading line feeds, tabs).
struct SettingsFile {
  const char* description;      ///< shown under each file-by-file question
  const char* backup_command;   ///< copies the live file into the backup folder
  const char* restore_command;  ///< copies the backup copy over the live file
  const char* whole_set_backup_message;
  const char* whole_set_restore_message;
  const char* backup_question;  ///< asked by the file-by-file backup
  const char* backup_message;   ///< written by the file-by-file backup before its copy
  const char* restore_question;
  const char* restore_message;
};

inline constexpr SettingsFile kSettingsFiles[] = {
    {
        "\n(contains video, audio, and misc. network config. data)",
        "copy System\\SkAux.ini Skulvane_Backups\\BACKUP_SkAux.ini",
        "copy Skulvane_Backups\\BACKUP_SkAux.ini System\\SkAux.ini",
        "\n\nAttempting to back up SkAux.ini\t\t",
        "\n\nAttempting to restore SkAux.ini\t\t",
        "\n\nWould you like to back up SkAux.ini?",
        "\nAttempting to back up SkAux.ini\t\t",
        "Would you like to restore SkAux.ini?",
        "\nAttempting to restore SkAux.ini\t\t",
    },
    {
        "\n(contains keybinds)",
        "copy System\\SkulvaneUser.ini Skulvane_Backups\\BACKUP_SkulvaneUser.ini",
        "copy Skulvane_Backups\\BACKUP_SkulvaneUser.ini System\\SkulvaneUser.ini",
        "\nAttempting to back up SkulvaneUser.ini\t",
        "\n\nAttempting to restore SkulvaneUser.ini\t",
        "\n\nWould you like to back up SkulvaneUser.ini?",
        "\nAttempting to back up SkulvaneUser.ini\t",
        "\n\nWould you like to restore SkulvaneUser.ini?",
        "\nAttempting to restore SkulvaneUser.ini\t",
    },
    {
        "\n(contains Loadouts)",
        "copy System\\SkLoadouts.ini Skulvane_Backups\\BACKUP_SkLoadouts.ini",
        "copy Skulvane_Backups\\BACKUP_SkLoadouts.ini System\\SkLoadouts.ini",
        "\nAttempting to back up SkLoadouts.ini\t",
        "\n\nAttempting to restore SkLoadouts.ini\t",
        "\n\nWould you like to back up SkLoadouts.ini?",
        "\nAttempting to back up SkLoadouts.ini\t",
        "\n\nWould you like to restore SkLoadouts.ini?",
        "\nAttempting to restore SkLoadouts.ini\t",
    },
};

/// Creates the backup folder; an existing one is left as it was.
inline constexpr const char* kMakeBackupFolderCommand = "md Skulvane_Backups";
inline constexpr const char* kMakeBackupFolderMessage =
    "Attempting to create directory Skulvane_Backups\t";

}  // namespace backup
