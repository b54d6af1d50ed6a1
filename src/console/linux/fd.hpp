// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <utility>

namespace linux_shell {

/// Owns one descriptor (or none, -1) and closes it when it goes, unless it was only lent (a
/// folder's handle that path_walk.cpp keeps open while the program runs). Moves, never copies.
/// Errors of the close are not reported: a step whose outcome depends on the close (a flush)
/// makes its own call first.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)), owned_(std::exchange(other.owned_, true)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.fd_, -1));
      owned_ = std::exchange(other.owned_, true);
    }
    return *this;
  }

  /// `fd` lent by an owner that keeps it open for as long as the program runs: never closed here.
  static Fd lent(int fd) {
    Fd held(fd);
    held.owned_ = false;
    return held;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    reset();
  }

  int get() const {
    return fd_;
  }
  explicit operator bool() const {
    return fd_ >= 0;
  }

  /// Gives up what is held without closing it.
  int release() {
    owned_ = true;
    return std::exchange(fd_, -1);
  }

  /// Closes what is held, then holds `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0 && owned_) {
      ::close(fd_);
    }
    fd_ = fd;
    owned_ = true;
  }

 private:
  int fd_ = -1;
  bool owned_ = true;
};

}  // namespace linux_shell
