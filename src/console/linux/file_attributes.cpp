#include "console/linux/file_attributes.hpp"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

namespace linux_shell {

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

/// True for the errors that mean "no such attribute here", not a fault.
bool absent(int error) {
  return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP;
}

/// The attribute `name` of the file at `path` (a /proc/self/fd path), read whole into `value`;
/// false with errno set where it cannot be read.
bool read_attribute(const char* path, const char* name, std::string& value) {
  for (int tries = 0; tries < 4; ++tries) {
    const ssize_t size = getxattr(path, name, nullptr, 0);
    if (size < 0) {
      return false;
    }
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = getxattr(path, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) {  // ERANGE: it grew in between
      return false;
    }
  }
  return false;
}

/// The process's umask, read once.
mode_t process_umask() {
  static const mode_t mask = [] {
    const mode_t read = umask(0);
    umask(read);
    return read;
  }();
  return mask;
}

/// Gives `fd` exactly the access ACL of the target at `path`, and its user.* attributes.
Result take_acl_and_attributes(int fd, const char* path) {
  std::string acl;
  if (read_attribute(path, kAccessAcl, acl)) {
    if (fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) != 0) {
      return {errno, std::string("its ACL could not be kept: ") + std::strerror(errno)};
    }
  } else if (!absent(errno)) {
    return {errno, std::string("its ACL could not be read: ") + std::strerror(errno)};
  } else if (fremovexattr(fd, kAccessAcl) != 0 && !absent(errno)) {
    return {errno, std::string("the folder's default ACL could not be taken off the copy: ") +
                       std::strerror(errno)};
  }
  std::string names(4096, '\0');
  const ssize_t length = listxattr(path, names.data(), names.size());
  for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
    const std::string name(names.c_str() + at);
    at += name.size() + 1;
    std::string value;
    if (std::string_view(name).starts_with("user.") && read_attribute(path, name.c_str(), value) &&
        fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      // Best effort: a file system without user attributes loses nothing that protects a file.
    }
  }
  return {};
}

}  // namespace

Result flush(int fd) {
  if (fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    return errno_result();
  }
  return {};
}

void take_time(int fd, const struct timespec& modified) {
  const struct timespec times[2] = {{0, UTIME_NOW}, modified};
  if (futimens(fd, times) != 0) {
  }
}

Result finish_copy(int fd, const struct stat& source, const Readers& readers, const Place& target) {
  // What is at the target's name now: another run of this user's may have replaced it since it
  // was found; its successor's owner, bits and ACL are the ones to keep.
  struct stat now = target.st;
  Fd file;
  if (target.exists) {
    file.reset(openat(target.folder.get(), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!file || fstat(file.get(), &now) != 0 || !S_ISREG(now.st_mode)) {
      file.reset();
      now = target.st;
    }
  }
  struct stat made;
  if (target.exists && fstat(fd, &made) == 0 &&
      (made.st_uid != now.st_uid || made.st_gid != now.st_gid) && reads_user(readers, now.st_uid) &&
      fchown(fd, now.st_uid, now.st_gid) != 0) {
  }
  const mode_t bits = target.exists ? now.st_mode & 0777 : source.st_mode & 0777 & ~process_umask();
  if (fchmod(fd, bits) != 0) {
  }
  if (file) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file.get());
    if (Result kept = take_acl_and_attributes(fd, path); !kept.ok()) {
      return kept;
    }
  }
  if (Result narrowed = narrow_readers(fd, readers); !narrowed.ok()) {
    return narrowed;
  }
  take_time(fd, source.st_mtim);
  return flush(fd);
}

}  // namespace linux_shell
