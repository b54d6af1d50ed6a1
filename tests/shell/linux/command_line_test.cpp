// Command lines taken apart, nothing carried out.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "dialogue/settings_files.hpp"
#include "shell/linux/command_line.hpp"

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
  const linux_shell::Command md = linux_shell::parse_command_line(backup::kMakeBackupFolderCommand);
  EXPECT_EQ(md.kind, linux_shell::CommandKind::make_folder);
  for (const backup::SettingsFile& file : backup::kSettingsFiles) {
    const linux_shell::Command out = linux_shell::parse_command_line(file.backup_command);
    const linux_shell::Command back = linux_shell::parse_command_line(file.restore_command);
    EXPECT_EQ(out.kind, linux_shell::CommandKind::copy) << file.backup_command;
    EXPECT_EQ(back.kind, linux_shell::CommandKind::copy) << file.restore_command;
    // The backup goes into the folder that md makes, and the restore copies it back.
    EXPECT_EQ(out.target.substr(0, out.target.find('\\')), md.folder) << file.backup_command;
    EXPECT_EQ(back.source, out.target) << file.restore_command;
    EXPECT_EQ(back.target, out.source) << file.restore_command;
  }
}

}  // namespace
