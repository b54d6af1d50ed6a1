#include "dialogue/backup.hpp"

#include "dialogue/console.hpp"
#include "dialogue/settings_files.hpp"

namespace backup {

namespace {

constexpr const char* kBackupComplete = "\nFile backup complete.";
constexpr const char* kRestoreAllComplete = "\nFile restore complete.";
constexpr const char* kRestoreEachComplete = "\n\nFile restore complete";
constexpr const char* kRestoreAllQuestion =
    "Are you sure you want to overwrite your current files with the backed up files?";
constexpr const char* kYesOrNo = "\nY for yes, anything else for no.\n";
constexpr const char* kYes = "Y";

void make_backup_folder() {
  console::write(kMakeBackupFolderMessage);
  console::run_command(kMakeBackupFolderCommand);
}

/// Writes the question's lines and the yes/no line, then reads one answer: only Y is a yes.
bool ask(const char* question, const char* description) {
  console::write(question);
  if (description != nullptr) {
    console::write(description);
  }
  console::write(kYesOrNo);
  return console::matches(console::read_answer(), kYes);
}

void finish(const char* message) {
  console::write(message);
  console::end_line();
}

/// A text of every settings file: one column of the table.
using Text = const char* SettingsFile::*;

/// Writes each file's message and runs its command line.
void copy_all(Text message, Text command) {
  for (const SettingsFile& file : kSettingsFiles) {
    console::write(file.*message);
    console::run_command(file.*command);
  }
}

/// Asks each file's question; for a yes writes its message and runs its command line.
void copy_each(Text question, Text message, Text command) {
  for (const SettingsFile& file : kSettingsFiles) {
    if (ask(file.*question, file.description)) {
      console::write(file.*message);
      console::run_command(file.*command);
    }
  }
}

}  // namespace

void back_up_all() {
  console::clear_screen();
  make_backup_folder();
  copy_all(&SettingsFile::whole_set_backup_message, &SettingsFile::backup_command);
  finish(kBackupComplete);
}

void back_up_each() {
  console::clear_screen();
  make_backup_folder();
  copy_each(&SettingsFile::backup_question, &SettingsFile::backup_message,
            &SettingsFile::backup_command);
  finish(kBackupComplete);
}

void restore_all() {
  console::clear_screen();
  if (!ask(kRestoreAllQuestion, nullptr)) {
    return;
  }
  copy_all(&SettingsFile::whole_set_restore_message, &SettingsFile::restore_command);
  finish(kRestoreAllComplete);
}

void restore_each() {
  console::clear_screen();
  copy_each(&SettingsFile::restore_question, &SettingsFile::restore_message,
            &SettingsFile::restore_command);
  finish(kRestoreEachComplete);
}

}  // namespace backup
