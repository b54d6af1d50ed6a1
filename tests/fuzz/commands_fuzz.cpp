// Fuzzes how the POSIX command layer reads a command line. Only the parser runs: nothing is
// carried out, so no file is touched. Each result is compared with what a splitter written here,
// independently of the parser, makes of the same line.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "backup/settings_files.hpp"
#include "check.hpp"
#include "console/command_line.hpp"

namespace {

using console::Command;
using console::CommandKind;

bool is_separator(char c) {
  return c == ' ' || c == '\t';
}

/// Control characters (tab aside), DEL and the double quote make a line unknown.
bool is_refused(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7f || c == '"';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_verb(std::string_view word, std::string_view verb) {
  if (word.size() != verb.size()) {
    return false;
  }
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lower(word[i]) != verb[i]) {
      return false;
    }
  }
  return true;
}

Command expected_of(std::string_view line) {
  const Command unknown{CommandKind::unknown, {}, {}};
  for (char c : line) {
    if (is_refused(c)) {
      return unknown;
    }
  }
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_separator(line[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = i;
    while (i < line.size() && !is_separator(line[i])) {
      ++i;
    }
    words.push_back(line.substr(begin, i - begin));
  }
  if (words.size() == 1 && is_verb(words[0], "cls")) {
    return {CommandKind::clear_screen, {}, {}};
  }
  if (words.size() == 1 && is_verb(words[0], "pause")) {
    return {CommandKind::pause, {}, {}};
  }
  if (words.size() == 2 && is_verb(words[0], "md")) {
    return {CommandKind::make_folder, words[1], {}};
  }
  if (words.size() == 3 && is_verb(words[0], "copy")) {
    return {CommandKind::copy, words[1], words[2]};
  }
  return unknown;
}

/// True when `part` is empty or lies wholly within `whole`.
bool is_within(std::string_view part, std::string_view whole) {
  const std::less_equal<const char*> at_most;
  return part.empty() || (at_most(whole.data(), part.data()) &&
                          at_most(part.data() + part.size(), whole.data() + whole.size()));
}

/// Where `part` starts in `whole`; 0 when it is empty.
std::size_t offset_of(std::string_view part, std::string_view whole) {
  return part.empty() ? 0 : static_cast<std::size_t>(part.data() - whole.data());
}

/// The operand `got` is the one expected: the same bytes at the same place of the line.
bool same_operand(std::string_view got, std::string_view expected) {
  return got.size() == expected.size() && (got.empty() || got.data() == expected.data());
}

bool is_known_kind(CommandKind kind) {
  switch (kind) {
    case CommandKind::clear_screen:
    case CommandKind::pause:
    case CommandKind::make_folder:
    case CommandKind::copy:
    case CommandKind::unknown:
      return true;
  }
  return false;
}

void check_line(std::string_view line) {
  const Command got = console::parse_command_line(line);
  const Command expected = expected_of(line);
  SK_FUZZ_CHECK(is_known_kind(got.kind));
  SK_FUZZ_CHECK(got.kind == expected.kind);
  SK_FUZZ_CHECK(is_within(got.first, line) && is_within(got.second, line));
  SK_FUZZ_CHECK(same_operand(got.first, expected.first));
  SK_FUZZ_CHECK(same_operand(got.second, expected.second));
  // Operands are whole words: never empty where present, never holding a blank or a quote.
  for (std::string_view operand : {got.first, got.second}) {
    for (char c : operand) {
      SK_FUZZ_CHECK(!is_separator(c) && !is_refused(c));
    }
  }
  SK_FUZZ_CHECK((got.kind == CommandKind::make_folder || got.kind == CommandKind::copy) ==
                !got.first.empty());
  SK_FUZZ_CHECK((got.kind == CommandKind::copy) == !got.second.empty());

  // The case of letters changes nothing but the operands' letters.
  std::string swapped(line);
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  const Command other = console::parse_command_line(swapped);
  SK_FUZZ_CHECK(other.kind == got.kind);
  SK_FUZZ_CHECK(other.first.size() == got.first.size() &&
                offset_of(other.first, swapped) == offset_of(got.first, line));
  SK_FUZZ_CHECK(other.second.size() == got.second.size() &&
                offset_of(other.second, swapped) == offset_of(got.second, line));
}

/// The command lines the program runs, each with what it must parse to.
void check_program_lines() {
  struct Expected {
    std::string line;
    CommandKind kind;
    std::string first;
    std::string second;
  };
  std::vector<Expected> lines = {
      {"cls", CommandKind::clear_screen, "", ""},
      {"pause", CommandKind::pause, "", ""},
      {backup::kMakeBackupFolderCommand, CommandKind::make_folder, "Skulvane_Backups", ""},
  };
  const char* const names[] = {"SkAux.ini", "SkulvaneUser.ini", "SkLoadouts.ini"};
  static_assert(std::size(names) == std::size(backup::kSettingsFiles));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string live = std::string("System\\") + names[i];
    const std::string copy = std::string("Skulvane_Backups\\BACKUP_") + names[i];
    lines.push_back({backup::kSettingsFiles[i].backup_command, CommandKind::copy, live, copy});
    lines.push_back({backup::kSettingsFiles[i].restore_command, CommandKind::copy, copy, live});
  }
  for (const Expected& e : lines) {
    const Command got = console::parse_command_line(e.line);
    SK_FUZZ_CHECK(got.kind == e.kind);
    SK_FUZZ_CHECK(got.first == e.first && got.second == e.second);
    check_line(e.line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  check_program_lines();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_line(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
