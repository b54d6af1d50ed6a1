// Command lines taken apart, nothing carried out.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "backup/settings_files.hpp"
#include "console/linux/command_line.hpp"

namespace {

TEST(ParseCommandLine, RecognisesOnlyTheFourCommands) {
  using linux_shell::CommandKind;
  struct Case {
    std::string_view line;
    CommandKind kind;
    const char* folder;
    const char* source;
    const char* target;
  };
  const Case cases[] = {
      {"cls", CommandKind::clear_screen, "", "", ""},
      {"PAUSE", CommandKind::pause, "", "", ""},
      {"md  Skulvane_Backups ", CommandKind::make_folder, "Skulvane_Backups", "", ""},
      {"Copy a\\b.ini\tc", CommandKind::copy, "", "a\\b.ini", "c"},
      {"cls now", CommandKind::unknown, "", "", ""},
      {"copy a b c", CommandKind::unknown, "", "", ""},
      {"md \"a b\"", CommandKind::unknown, "", "", ""},
      {"md a\nrm b", CommandKind::unknown, "", "", ""},
      // Refused bytes inside a word, not only at its start.
      {"md a\nb", CommandKind::unknown, "", "", ""},
      {"copy a\x1b[2J b", CommandKind::unknown, "", "", ""},
      {"md a\"b", CommandKind::unknown, "", "", ""},
      {"md a\x7f", CommandKind::unknown, "", "", ""},
      {std::string_view("md a\0b", 6), CommandKind::unknown, "", "", ""},
      {"  ", CommandKind::unknown, "", "", ""},
  };
  for (const Case& c : cases) {
    const linux_shell::Command command = linux_shell::parse_command_line(c.line);
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.folder, c.folder) << c.line;
    EXPECT_EQ(command.source, c.source) << c.line;
    EXPECT_EQ(command.target, c.target) << c.line;
  }
}

TEST(ParseCommandLine, TakesTheProgramsOwnLinesApart) {
  EXPECT_EQ(linux_shell::parse_command_line(backup::kMakeBackupFolderCommand).folder,
            "Skulvane_Backups");
  const char* const names[] = {"SkAux.ini", "SkulvaneUser.ini", "SkLoadouts.ini"};
  static_assert(std::size(names) == std::size(backup::kSettingsFiles));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string live = std::string("System\\") + names[i];
    const std::string copy = std::string("Skulvane_Backups\\BACKUP_") + names[i];
    const linux_shell::Command backup =
        linux_shell::parse_command_line(backup::kSettingsFiles[i].backup_command);
    const linux_shell::Command restore =
        linux_shell::parse_command_line(backup::kSettingsFiles[i].restore_command);
    EXPECT_EQ(backup.kind, linux_shell::CommandKind::copy);
    EXPECT_EQ(std::string(backup.source) + " " + std::string(backup.target), live + " " + copy);
    EXPECT_EQ(restore.kind, linux_shell::CommandKind::copy);
    EXPECT_EQ(std::string(restore.source) + " " + std::string(restore.target), copy + " " + live);
  }
}

}  // namespace
