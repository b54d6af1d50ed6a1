#include "shell/linux/files.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdio>

namespace linux_shell {

long file_system_type(int fd, dev_t device) {
  static dev_t g_device = 0;
  static long g_type = 0;
  if (major(device) != 0 && device == g_device) {
    return g_type;
  }
  struct statfs where;
  if (fstatfs(fd, &where) != 0) {
    return 0;
  }
  if (major(device) != 0) {
    g_device = device;
    g_type = where.f_type;
  }
  return where.f_type;
}

ProcPath proc_path(int fd) {
  ProcPath path;
  std::snprintf(path.text, sizeof path.text, "/proc/self/fd/%d", fd);
  return path;
}

Result write_all(int fd, const char* bytes, std::size_t size, off_t at) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t wrote = pwrite(fd, bytes + done, size - done, at + static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return Result::from_errno(wrote < 0 ? errno : EIO);
    }
    done += static_cast<std::size_t>(wrote);
  }
  return {};
}

Result flush(int fd) {
  if (fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    return errno_result();
  }
  return {};
}

Result flush_folder(int readable, int file) {
  if (readable >= 0) {
    return flush(readable);
  }
  return syncfs(file) == 0 ? Result{} : errno_result();
}

void take_time(int fd, const struct timespec& modified) {
  const struct timespec times[2] = {{0, UTIME_NOW}, modified};
  if (futimens(fd, times) != 0) {
  }
}

}  // namespace linux_shell
