// What every part of the Linux command layer does with a file: hold its descriptor, tell two
// files apart and the file system they are on, name a descriptor as a path, write bytes whole,
// and flush a file or a folder. Nothing here reports more than the errno of the call that failed.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <utility>

#include "console/linux/result.hpp"

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

/// Writes all of the `size` bytes at `bytes` into `fd` at the offset `at`, again after EINTR and
/// a short write; a write that takes nothing is a failure (EIO), never tried for ever. Allocates
/// nothing: callers run it with every signal held.
Result write_all(int fd, const char* bytes, std::size_t size, off_t at);

/// Flushes the file `fd`. A file system that cannot flush a file (EINVAL, ENOSYS, EOPNOTSUPP)
/// has nothing more to give: no failure.
Result flush(int fd);

/// Flushes the folder `folder` (a handle, O_PATH will do), where an entry was just made or
/// renamed: the folder itself where it can be read, else the whole file system that holds it
/// (syncfs), through `file`, an open descriptor on it (-1 where there is none: the failure to
/// open the folder is then the result).
Result flush_folder(int folder, int file);

/// Gives the file `fd` the modification time `modified`. Best effort, as for cp.
void take_time(int fd, const struct timespec& modified);

}  // namespace linux_shell
