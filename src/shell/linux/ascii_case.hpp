// Names compared as Windows compares command words and file names.
#pragma once

#include <string_view>

namespace linux_shell {

/// True when `a` and `b` are the same but for the case of the ASCII letters A to Z; every other
/// byte must be equal.
constexpr bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace linux_shell
