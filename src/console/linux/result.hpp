// How a step of the Linux command layer that can fail says what became of it.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace linux_shell {

/// Which operand of a copy a failure belongs to: its report names that one.
enum class Side { source, target };

/// What became of a step: it worked (`ok()`), or `text` says why not, fit for a report, with
/// `error` the errno behind it (0 for a refusal of the program's own) and `side` the operand at
/// fault.
struct Result {
  int error = 0;
  std::string text;
  Side side = Side::target;

  bool ok() const {
    return text.empty();
  }

  /// A failure from an errno, worded as strerror words it.
  static Result from_errno(int error, Side side = Side::target) {
    return {error, std::strerror(error), side};
  }
  /// A refusal of the program's own.
  static Result refusal(std::string text, Side side = Side::target) {
    return {0, std::move(text), side};
  }
};

/// The failure that errno holds now.
inline Result errno_result(Side side = Side::target) {
  return Result::from_errno(errno, side);
}

}  // namespace linux_shell
