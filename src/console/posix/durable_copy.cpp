#include "console/posix/durable_copy.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "console/posix/fatal_signals.hpp"
#include "console/posix/windows_names.hpp"

namespace console {

namespace {

constexpr std::string_view kTemporaryPrefix = ".sk-backup-";
constexpr std::size_t kTemporaryNameLength = kTemporaryPrefix.size() + 6;

bool is_temporary_name(std::string_view name) {
  return name.size() == kTemporaryNameLength &&
         name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix;
}

/// Flushes `folder`'s entries to disk, so that a new or renamed entry in it survives a crash.
/// Best effort: a file system that cannot sync a folder has nothing more to give.
void sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

/// Step 1 of the protocol: removes the temporary files in `folder` that no copy holds.
void remove_stale_temporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    return;
  }
  const int folder_fd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (!is_temporary_name(entry->d_name)) {
      continue;
    }
    const int fd =
        openat(folder_fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    struct stat held;
    struct stat named;
    // Removed only while this run holds its lock and the name is still that very file.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        fstatat(folder_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      unlinkat(folder_fd, entry->d_name, 0);
    }
    close(fd);
  }
  closedir(dir);
}

/// Where a copy onto a path really writes: the file at the end of any chain of symbolic links.
struct Target {
  std::string path;
  bool exists;
  struct stat st;  ///< of the file where it exists, else of the folder it is to be made in
};

/// Fills `target` for a copy onto `path`. Returns nullptr, or why nothing may be written there.
const char* find_target(std::string path, Target& target) {
  for (int links = 0;; ++links) {
    if (lstat(path.c_str(), &target.st) != 0) {
      if (errno != ENOENT) {
        return std::strerror(errno);
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

/// Copies the rest of `in` to `out` through a buffer of this process. Returns nullptr, or the
/// reason it failed; `source_failed` tells which side.
const char* copy_by_reading(int in, int out, bool& source_failed) {
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
const char* copy_data(int in, int out, bool& source_failed) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (;;) {
    const ssize_t copied = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (copied > 0 || (copied < 0 && errno == EINTR)) {
      continue;
    }
    return copy_by_reading(in, out, source_failed);
  }
}

/// Step 3's finish: mode, time and owner, then the data on disk. `made` is the temporary file as
/// created. Returns nullptr or why not.
const char* finish_temporary(int fd, const struct stat& source, const Target& target,
                             const struct stat& made) {
  // A file that existed keeps its owner where the system allows it; a new one made by root gets
  // its folder's. Anything else, and where the system refuses, is the runner's, as for any new
  // file: a refusal is no failure of the copy.
  if ((target.exists || geteuid() == 0) &&
      (made.st_uid != target.st.st_uid || made.st_gid != target.st.st_gid) &&
      fchown(fd, target.st.st_uid, target.st.st_gid) != 0) {
  }
  if (fchmod(fd, source.st_mode & 0777) != 0) {
    return std::strerror(errno);
  }
  const struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
  if (futimens(fd, times) != 0) {
    return std::strerror(errno);
  }
  if (fsync(fd) != 0) {
    return std::strerror(errno);
  }
  return nullptr;
}

/// Step 2: a new temporary file in `folder`, locked and recorded for the signal handlers, its
/// name in `path`, its status in `made`. Returns its descriptor, or -1 with errno set.
int create_temporary(const std::string& folder, std::string& path, struct stat& made) {
  for (;;) {
    path = join(folder, std::string(kTemporaryPrefix) + "XXXXXX");
    const sigset_t mask = block_signals();
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0 && !temporary_created(path.c_str())) {
      unlink(path.c_str());
      close(fd);
      unblock_signals(mask);
      errno = ENAMETOOLONG;
      return -1;
    }
    unblock_signals(mask);
    if (fd < 0) {
      return -1;
    }
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (fstat(fd, &made) == 0 && made.st_nlink > 0) {
      return fd;
    }
    // Another run took it for stale before this one locked it, and removed it.
    const sigset_t again = block_signals();
    temporary_gone();
    unblock_signals(again);
    close(fd);
  }
}

/// Steps 1 to 4 for an open, checked source.
const char* replace_file(int in, const struct stat& source, const Target& target,
                         bool& source_failed) {
  const std::string folder = folder_of(target.path);
  remove_stale_temporaries(folder);
  std::string temporary;
  struct stat made;
  const int out = create_temporary(folder, temporary, made);
  if (out < 0) {
    return std::strerror(errno);
  }
  const char* reason = copy_data(in, out, source_failed);
  if (reason == nullptr) {
    reason = finish_temporary(out, source, target, made);
  }
  if (reason == nullptr && rename(temporary.c_str(), target.path.c_str()) != 0) {
    reason = std::strerror(errno);
  }
  const sigset_t mask = block_signals();
  if (reason != nullptr) {
    unlink(temporary.c_str());
  }
  temporary_gone();
  unblock_signals(mask);
  // Closing gives up the lock, only now that the temporary name is gone.
  if (close(out) != 0 && reason == nullptr) {
    reason = std::strerror(errno);
  }
  if (reason == nullptr) {
    sync_folder(folder);
  }
  return reason;
}

}  // namespace

FolderResult make_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) {
    const std::string parent = folder_of(path);
    // Run as root, the new folder is the parent's owner's. A link put in its place by then is
    // changed itself, never followed.
    struct stat folder;
    if (geteuid() == 0 && stat(parent.c_str(), &folder) == 0 &&
        fchownat(AT_FDCWD, path.c_str(), folder.st_uid, folder.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    }
    // The new folder's entry is durable before anything is copied into it.
    sync_folder(parent);
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
  const char* reason = nullptr;
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
