#include "backup/backup.hpp"

#include "backup/settings_files.hpp"
#include "console/console.hpp"

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

}  // namespace

void back_up_all() {
  console::clear_screen();
  make_backup_folder();
  for (const SettingsFile& file : kSettingsFiles) {
    console::write(file.whole_set_backup_message);
    console::run_command(file.backup_command);
  }
  finish(kBackupComplete);
}

void back_up_each() {
  console::clear_screen();
  make_backup_folder();
  for (const SettingsFile& file : kSettingsFiles) {
    if (ask(file.backup_question, file.description)) {
      console::write(file.backup_message);
      console::run_command(file.backup_command);
    }
  }
  finish(kBackupComplete);
}

void restore_all() {
  console::clear_screen();
  if (!ask(kRestoreAllQuestion, nullptr)) {
    return;
  }
  for (const SettingsFile& file : kSettingsFiles) {
    console::write(file.whole_set_restore_message);
    console::run_command(file.restore_command);
  }
  finish(kRestoreAllComplete);
}

void restore_each() {
  console::clear_screen();
  for (const SettingsFile& file : kSettingsFiles) {
    if (ask(file.restore_question, file.description)) {
      console::write(file.restore_message);
      console::run_command(file.restore_command);
    }
  }
  finish(kRestoreEachComplete);
}

}  // namespace backup
