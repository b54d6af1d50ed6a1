#include "shell/linux/command_line.hpp"

#include <iterator>

#include "shell/linux/ascii_case.hpp"

namespace linux_shell {

namespace {

bool is_separator(char c) {
  return c == ' ' || c == '\t';
}

/// A byte that makes any line holding it unknown: a control character other than tab, DEL, or
/// a double quote.
bool is_refused(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7f || c == '"';
}

}  // namespace

Command parse_command_line(std::string_view line) {
  constexpr Command kUnknown{CommandKind::unknown, {}, {}, {}};
  for (const char c : line) {
    if (is_refused(c)) {
      return kUnknown;
    }
  }
  std::string_view words[4];
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_separator(line[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < line.size() && !is_separator(line[end])) {
      ++end;
    }
    if (count == std::size(words)) {
      return kUnknown;
    }
    words[count++] = line.substr(i, end - i);
    i = end;
  }
  if (count == 0) {
    return kUnknown;
  }
  const std::string_view verb = words[0];
  if (count == 1 && equal_ignoring_ascii_case(verb, "cls")) {
    return {CommandKind::clear_screen, {}, {}, {}};
  }
  if (count == 1 && equal_ignoring_ascii_case(verb, "pause")) {
    return {CommandKind::pause, {}, {}, {}};
  }
  if (count == 2 && equal_ignoring_ascii_case(verb, "md")) {
    return {CommandKind::make_folder, words[1], {}, {}};
  }
  if (count == 3 && equal_ignoring_ascii_case(verb, "copy")) {
    return {CommandKind::copy, {}, words[1], words[2]};
  }
  return kUnknown;
}

}  // namespace linux_shell
