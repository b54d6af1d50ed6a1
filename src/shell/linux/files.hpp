// What every part of the Linux command layer does with a file: hold its descriptor, tell two
// files apart and the file system they are on, name a descriptor as a path, write bytes whole,
// and flush a file or a folder. Nothing here reports more than the errno of the call that failed.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <utility>

#include "shell/linux/result.hpp"

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

/// True when `a` and `b` are the status of one and the same file.
inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/// The file system type (statfs's f_type) of the file `fd` on the device `device`; 0 where it
/// cannot be told. Remembered for a block device (its file system cannot change while it is
/// open here); asked every time for the others (FUSE, tmpfs, btrfs), whose numbers are reused.
long file_system_type(int fd, dev_t device);

/// The path of the descriptor `fd` in /proc ("/proc/self/fd/7"), for the calls that take a path
/// only (getxattr, linkat).
struct ProcPath {
  char text[32];
};
ProcPath proc_path(int fd);

/// Reads the whole of the file at `path` into `text` (replacing what it held): for the small
/// files of the system (/etc/passwd, /proc/self/mountinfo), read straight into the string, with
/// no buffer on the stack.
Result read_file(const char* path, std::string& text);

/// Writes all of the `size` bytes at `bytes` into `fd` at the offset `at`, again after EINTR and
/// a short write; a write that takes nothing is a failure (EIO), never tried for ever. Allocates
/// nothing: callers run it with every signal held.
Result write_all(int fd, const char* bytes, std::size_t size, off_t at);

/// Flushes the file `fd`. A file system that cannot flush a file (EINVAL, ENOSYS, EOPNOTSUPP)
/// has nothing more to give: no failure.
Result flush(int fd);

/// Flushes a folder where an entry was just made or renamed: through `readable`, the folder
/// opened for reading, where it could be (-1 where it may not be read), else the whole file
/// system that holds it (syncfs) through `file`, an open descriptor on it.
Result flush_folder(int readable, int file);

/// Gives the file `fd` the modification time `modified`. Best effort, as for cp.
void take_time(int fd, const struct timespec& modified);

}  // namespace linux_shell
