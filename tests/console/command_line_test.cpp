// Command lines taken apart, nothing carried out.
#include <gtest/gtest.h>

#include <string_view>

#include "console/command_line.hpp"

namespace {

TEST(ParseCommandLine, RecognisesOnlyTheFourCommands) {
  using console::CommandKind;
  struct Case {
    std::string_view line;
    CommandKind kind;
    const char* first;
    const char* second;
  };
  const Case cases[] = {
      {"cls", CommandKind::clear_screen, "", ""},
      {"PAUSE", CommandKind::pause, "", ""},
      {"md  Skulvane_Backups ", CommandKind::make_folder, "Skulvane_Backups", ""},
      {"Copy a\\b.ini\tc", CommandKind::copy, "a\\b.ini", "c"},
      {"cls now", CommandKind::unknown, "", ""},
      {"copy a b c", CommandKind::unknown, "", ""},
      {"md \"a b\"", CommandKind::unknown, "", ""},
      {"md a\nrm b", CommandKind::unknown, "", ""},
      // Refused bytes inside a word, not only at its start.
      {"md a\nb", CommandKind::unknown, "", ""},
      {"copy a\x1b[2J b", CommandKind::unknown, "", ""},
      {"md a\"b", CommandKind::unknown, "", ""},
      {"md a\x7f", CommandKind::unknown, "", ""},
      {std::string_view("md a\0b", 6), CommandKind::unknown, "", ""},
      {"  ", CommandKind::unknown, "", ""},
  };
  for (const Case& c : cases) {
    const console::Command command = console::parse_command_line(c.line);
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.first, c.first) << c.line;
    EXPECT_EQ(command.second, c.second) << c.line;
  }
}

}  // namespace
