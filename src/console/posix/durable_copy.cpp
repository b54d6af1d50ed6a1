#include "console/posix/durable_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "console/posix/paths.hpp"
#include "console/posix/temporary_file.hpp"

namespace console {

namespace {

/// Flushes `folder`'s entries to disk, so that a new or renamed entry in it survives a crash.
/// Best effort: a file system that cannot sync a folder has nothing more to give.
void sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

/// Where a copy onto a path really writes: the file at the end of any chain of symbolic links.
struct Target {
  std::string path;
  bool exists;
  struct stat st;  ///< of the file where it exists, else of the folder it is to be made in
};

/// Fills `target` for a copy onto `path`, or says why nothing may be written there.
Reason find_target(std::string path, Target& target) {
  for (int links = 0;; ++links) {
    if (lstat(path.c_str(), &target.st) != 0) {
      if (errno != ENOENT) {
        return std::strerror(errno);
      }
      // A link to nothing could make a file anywhere that its maker chose.
      if (links > 0) {
        return "Not writing through a link to nothing";
      }
      if (stat(folder_of(path).c_str(), &target.st) != 0) {
        return std::strerror(errno);
      }
      if (!S_ISDIR(target.st.st_mode)) {
        return std::strerror(ENOTDIR);
      }
      target.path = path;
      target.exists = false;
      return nullptr;
    }
    if (S_ISLNK(target.st.st_mode)) {
      if (links >= 40) {
        return std::strerror(ELOOP);
      }
      char link[PATH_MAX];
      const ssize_t length = readlink(path.c_str(), link, sizeof link);
      if (length < 0) {
        return std::strerror(errno);
      }
      if (static_cast<std::size_t>(length) == sizeof link) {
        return std::strerror(ENAMETOOLONG);
      }
      const std::string to(link, static_cast<std::size_t>(length));
      path = to.front() == '/' ? to : join(folder_of(path), to);
      continue;
    }
    if (S_ISDIR(target.st.st_mode)) {
      return std::strerror(EISDIR);
    }
    if (!S_ISREG(target.st.st_mode)) {
      return "Not a regular file";
    }
    target.path = path;
    target.exists = true;
    return nullptr;
  }
}

/// Writes all of `size` bytes, going on after short writes. False on an error, with errno set.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

char g_copy_buffer[1 << 17];

/// Copies the rest of `in` to `out` through a buffer of this process; on failure
/// `source_failed` tells which side.
Reason copy_by_reading(int in, int out, bool& source_failed) {
  for (;;) {
    const ssize_t got = read(in, g_copy_buffer, sizeof g_copy_buffer);
    if (got == 0) {
      return nullptr;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      source_failed = true;
      return std::strerror(errno);
    }
    if (!write_all(out, g_copy_buffer, static_cast<std::size_t>(got))) {
      source_failed = false;
      return std::strerror(errno);
    }
  }
}

/// Copies the rest of `in` to `out`, letting the kernel move the data (copy_file_range: a shared
/// extent or a server-side copy where the file system offers one). The reading loop copies what
/// the kernel does not, from where it stopped: where it declines, fails, or ends early (a file
/// whose size says nothing of its content), and reports a real fault with its side.
Reason copy_data(int in, int out, bool& source_failed) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (;;) {
    const ssize_t copied = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (copied > 0 || (copied < 0 && errno == EINTR)) {
      continue;
    }
    return copy_by_reading(in, out, source_failed);
  }
}

/// The permission bits that a process's new files do not get.
mode_t process_umask() {
  static const mode_t mask = [] {
    const mode_t read = umask(0);
    umask(read);
    return read;
  }();
  return mask;
}

/// Gives the file `fd` the source's modification time. Best effort, as for cp.
void take_time(int fd, const struct stat& source) {
  const struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
  if (futimens(fd, times) != 0) {
  }
}

/// Flushes the file `fd`. A file system that cannot flush a file has nothing more to give.
Reason flush(int fd) {
  if (fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
    return std::strerror(errno);
  }
  return nullptr;
}

/// Step 2's finish: owner, bits and time as the header states, best effort; then the flush.
Reason finish_copy(int fd, const struct stat& source, const Target& target) {
  struct stat made;
  if (target.exists && fstat(fd, &made) == 0 &&
      (made.st_uid != target.st.st_uid || made.st_gid != target.st.st_gid) &&
      fchown(fd, target.st.st_uid, target.st.st_gid) != 0) {
  }
  const mode_t bits =
      target.exists ? target.st.st_mode & 0777 : source.st_mode & 0777 & ~process_umask();
  if (fchmod(fd, bits) != 0) {
  }
  take_time(fd, source);
  return flush(fd);
}

/// True for a failure to make a file beside the target, or to rename it over the target, that
/// only the folder's permissions cause.
bool folder_refuses(int error) {
  return error == EACCES || error == EPERM;
}

/// The copy in place, into the target that `find_target` found, from the start of `in`, after
/// the folder gave `refused` as its reason. Where the target cannot be written either, that
/// reason is the one to give.
Reason write_in_place(int in, const struct stat& source, const Target& target, Reason refused,
                      bool& source_failed) {
  const int out =
      open(target.path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (out < 0) {
    return refused;
  }
  struct stat st;
  Reason reason = nullptr;
  if (fstat(out, &st) != 0 || st.st_dev != target.st.st_dev || st.st_ino != target.st.st_ino) {
    reason = "The file changed while it was copied";
  } else if (lseek(in, 0, SEEK_SET) != 0) {
    source_failed = true;
    reason = std::strerror(errno);
  } else {
    reason = copy_data(in, out, source_failed);
  }
  if (reason == nullptr && ftruncate(out, lseek(out, 0, SEEK_CUR)) != 0) {
    reason = std::strerror(errno);
  }
  if (reason == nullptr) {
    take_time(out, source);
    reason = flush(out);
  }
  if (close(out) != 0 && reason == nullptr) {
    reason = std::strerror(errno);
  }
  return reason;
}

/// Steps 1 to 3 for an open, checked source; in place where the folder refuses them.
Reason replace_file(int in, const struct stat& source, const Target& target, bool& source_failed) {
  TemporaryFile temporary;
  Reason reason = create_temporary(target.path, temporary);
  bool beside_refused = reason != nullptr && folder_refuses(errno);
  if (reason == nullptr) {
    reason = copy_data(in, temporary.fd, source_failed);
    if (reason == nullptr) {
      reason = finish_copy(temporary.fd, source, target);
    }
    if (reason == nullptr) {
      reason = put_in_place(temporary, target.path);
      beside_refused = reason != nullptr && folder_refuses(errno);
    }
    discard_temporary(temporary);
  }
  if (reason == nullptr) {
    sync_folder(folder_of(target.path));
    return nullptr;
  }
  if (beside_refused && target.exists) {
    source_failed = false;
    return write_in_place(in, source, target, reason, source_failed);
  }
  return reason;
}

}  // namespace

FolderResult make_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) {
    // The new folder's entry is durable before anything is copied into it.
    sync_folder(folder_of(path));
    return FolderResult::created;
  }
  const int error = errno;
  struct stat st;
  if (error == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return FolderResult::existed;
  }
  errno = error;
  return FolderResult::failed;
}

CopyResult copy_file(const std::string& source_path, const std::string& target_path) {
  // Not blocking, so that a FIFO in the source's place cannot hang the program.
  const int in = open(source_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (in < 0) {
    return {std::strerror(errno), true};
  }
  struct stat source;
  Target target;
  bool source_failed = true;
  Reason reason = nullptr;
  if (fstat(in, &source) != 0) {
    reason = std::strerror(errno);
  } else if (S_ISDIR(source.st_mode)) {
    reason = std::strerror(EISDIR);
  } else if (!S_ISREG(source.st_mode)) {
    reason = "Not a regular file";
  } else {
    source_failed = false;
    reason = find_target(target_path, target);
  }
  if (reason == nullptr && target.exists && target.st.st_dev == source.st_dev &&
      target.st.st_ino == source.st_ino) {
    reason = "It is the same file as the source";
  }
  if (reason == nullptr) {
    reason = replace_file(in, source, target, source_failed);
  }
  close(in);
  return {reason, source_failed};
}

}  // namespace console
