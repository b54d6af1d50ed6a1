// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <utility>

namespace linux_shell {

/// Owns one descriptor (or none, -1) and closes it when it goes. Moves, never copies. Errors of
/// the close are not reported: a step whose outcome depends on the close (a flush) makes its
/// own call first.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.fd_, -1));
    }
    return *this;
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

  /// Closes what is held, then holds `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace linux_shell
