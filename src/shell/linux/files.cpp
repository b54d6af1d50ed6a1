#include "shell/linux/files.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <cerrno>
#include <charconv>
#include <cstring>

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
  constexpr char kFolder[] = "/proc/self/fd/";
  ProcPath path;
  std::memcpy(path.text, kFolder, sizeof kFolder - 1);
  char* const end =
      std::to_chars(path.text + sizeof kFolder - 1, path.text + sizeof path.text - 1, fd).ptr;
  *end = '\0';
  return path;
}

Result read_file(const char* path, std::string& text) {
  text.clear();
  const Fd file(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!file) {
    return errno_result();
  }
  // Grown only when full, so that a small file takes one allocation.
  std::size_t used = 0;
  for (text.resize(4096);; text.resize(2 * text.size())) {
    ssize_t got = 1;
    while (used < text.size() && got != 0) {
      got = read(file.get(), text.data() + used, text.size() - used);
      if (got < 0 && errno != EINTR) {
        const Result failed = errno_result();
        text.clear();
        return failed;
      }
      used += static_cast<std::size_t>(got > 0 ? got : 0);
    }
    if (got == 0) {
      text.resize(used);
      return {};
    }
  }
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
