// How a step of the Linux command layer that can fail says what became of it: every such step
// returns a Result, which its caller must look at.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace linux_shell {

/// Which operand of a copy a failure belongs to: its report names that one.
enum class Side { source, target };

/// What became of a step: it worked (`ok()`), or it failed, with `error()` the errno behind it
/// (0 for a refusal of the program's own), `text()` why, fit for a report, and `side()` the
/// operand of a copy at fault (the target, unless the copy says otherwise). A failure from an
/// errno alone allocates nothing: a step that runs with every signal held may make one.
class [[nodiscard]] Result {
 public:
  /// It worked.
  Result() = default;

  /// A failure from an errno, worded as strerror words it.
  static Result from_errno(int error) {
    Result result;
    result.failed_ = true;
    result.error_ = error;
    return result;
  }
  /// A failure from an errno, worded by the program.
  static Result failure(int error, std::string text) {
    Result result = from_errno(error);
    result.text_ = std::move(text);
    return result;
  }
  /// A refusal of the program's own (no errno behind it).
  static Result refusal(std::string text) {
    return failure(0, std::move(text));
  }

  bool ok() const {
    return !failed_;
  }
  int error() const {
    return error_;
  }
  std::string text() const {
    return failed_ && text_.empty() ? std::string(std::strerror(error_)) : text_;
  }
  Side side() const {
    return side_;
  }

  /// The same failure, as one of operand `side`: said once, where the copy knows it.
  Result on(Side side) && {
    side_ = side;
    return std::move(*this);
  }
  /// The same failure, its text followed by `more` (what it left, what to do).
  Result followed_by(std::string_view more) && {
    text_ = text().append(more);
    return std::move(*this);
  }

 private:
  bool failed_ = false;
  int error_ = 0;
  std::string text_;
  Side side_ = Side::target;
};

/// The failure that errno holds now.
inline Result errno_result() {
  return Result::from_errno(errno);
}

}  // namespace linux_shell
