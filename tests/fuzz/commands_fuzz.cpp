// Fuzzes how the Linux command layer reads a command line. Only the parser runs: nothing is
// carried out, so no file is touched. Each result is checked against properties that any sound
// reading has, without a second parser to compare with: operands are whole words of the line, a
// recognised line is exactly its command word and its operands, a refused byte makes the line
// unknown and no other byte does, and neither the case of letters nor the width of the gaps
// changes the reading.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "check.hpp"
#include "shell/linux/command_line.hpp"

namespace {

using linux_shell::Command;
using linux_shell::CommandKind;

bool IsSeparator(char c) {
  return c == ' ' || c == '\t';
}

/// The bytes that make a line unknown wherever they stand, listed here apart from the parser:
/// the control characters but tab, DEL, and the double quote.
constexpr std::array<bool, 256> kRefused = [] {
  std::array<bool, 256> refused{};
  for (std::size_t byte = 0x00; byte < 0x20; ++byte) {
    refused[byte] = byte != '\t';
  }
  refused[0x7f] = true;
  refused['"'] = true;
  return refused;
}();

bool IsRefused(char c) {
  return kRefused[static_cast<unsigned char>(c)];
}

/// True when `part` is a whole word of `line`: within it, not empty, no separator or refused
/// byte in it, and a separator or the line's end on each side.
bool IsWordOf(std::string_view part, std::string_view line) {
  const std::less_equal<const char*> at_most;
  if (part.empty() || !at_most(line.data(), part.data()) ||
      !at_most(part.data() + part.size(), line.data() + line.size())) {
    return false;
  }
  for (char c : part) {
    if (IsSeparator(c) || IsRefused(c)) {
      return false;
    }
  }
  const std::size_t begin = static_cast<std::size_t>(part.data() - line.data());
  const std::size_t end = begin + part.size();
  return (begin == 0 || IsSeparator(line[begin - 1])) &&
         (end == line.size() || IsSeparator(line[end]));
}

/// The words of a command, in order, joined by one blank.
std::string Joined(std::string_view verb, const Command& command) {
  std::string out(verb);
  for (std::string_view operand : {command.folder, command.source, command.target}) {
    if (!operand.empty()) {
      out.append(" ").append(operand);
    }
  }
  return out;
}

/// `line` with each run of separators one blank, and none at either end.
std::string SingleSpaced(std::string_view line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (!IsSeparator(line[i])) {
      if (!out.empty() && IsSeparator(line[i - 1])) {
        out += ' ';
      }
      out += line[i];
    }
  }
  return out;
}

std::string LowerCase(std::string text) {
  for (char& c : text) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return text;
}

void CheckLine(std::string_view line) {
  const Command got = linux_shell::parse_command_line(line);
  const bool folder = got.kind == CommandKind::make_folder;
  const bool copy = got.kind == CommandKind::copy;
  SK_FUZZ_CHECK(folder ? IsWordOf(got.folder, line) : got.folder.empty());
  SK_FUZZ_CHECK(copy ? IsWordOf(got.source, line) && IsWordOf(got.target, line)
                     : got.source.empty() && got.target.empty());
  SK_FUZZ_CHECK(copy ? got.source.data() < got.target.data() : true);
  for (char c : line) {
    SK_FUZZ_CHECK(!IsRefused(c) || got.kind == CommandKind::unknown);
    // Any other byte may stand in a name: alone, it is a folder's.
    if (!IsRefused(c) && !IsSeparator(c)) {
      const char md[] = {'m', 'd', ' ', c};
      SK_FUZZ_CHECK(linux_shell::parse_command_line(std::string_view(md, sizeof md)).kind ==
                    CommandKind::make_folder);
    }
  }
  // A recognised line is its command word, in any case, and its operands, and nothing else.
  const struct {
    CommandKind kind;
    const char* verb;
  } verbs[] = {{CommandKind::clear_screen, "cls"},
               {CommandKind::pause, "pause"},
               {CommandKind::make_folder, "md"},
               {CommandKind::copy, "copy"}};
  const std::string words = SingleSpaced(line);
  const std::string verb = words.substr(0, words.find(' '));
  for (const auto& known : verbs) {
    if (got.kind == known.kind) {
      SK_FUZZ_CHECK(LowerCase(verb) == known.verb && words == Joined(verb, got));
    }
  }

  // Neither the case of letters nor the gaps change the reading: a line read once more with its
  // letters' case swapped, or single-spaced, gives the same command.
  std::string swapped(line);
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  for (const std::string& other_line : {swapped, words}) {
    const Command other = linux_shell::parse_command_line(other_line);
    SK_FUZZ_CHECK(other.kind == got.kind);
    SK_FUZZ_CHECK(LowerCase(Joined("", other)) == LowerCase(Joined("", got)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckLine(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
