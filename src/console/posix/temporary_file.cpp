#include "console/posix/temporary_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console/posix/fatal_signals.hpp"
#include "console/posix/paths.hpp"

namespace console {

namespace {

constexpr long kBtrfsMagic = 0x9123683e;
constexpr int kWaitSteps = 1000;  // of 10 ms: a running copy's name is waited for 10 s at most

/// What is under a temporary name.
enum class NameState { free, busy, foreign };

/// Removes what an earlier run left under `path`, as the header states.
NameState clear_name(const std::string& path) {
  struct stat named;
  if (lstat(path.c_str(), &named) != 0) {
    return NameState::free;  // or not to be looked at: making the file tells why
  }
  if (!S_ISREG(named.st_mode) || named.st_nlink != 1 || named.st_uid != geteuid()) {
    return NameState::foreign;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? NameState::free : NameState::foreign;
  }
  NameState state = NameState::busy;
  struct stat held;
  // A file system without locks holds no copy's file either.
  if ((flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) && fstat(fd, &held) == 0) {
    // Removed only while this run holds the lock and the name is still that very file.
    state = lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
                    named.st_ino == held.st_ino && unlink(path.c_str()) != 0
                ? NameState::foreign
                : NameState::free;
  }
  close(fd);
  return state;
}

/// Waits until `path` is free, removing a leftover. False, with errno EEXIST, when it stays
/// taken: by a file this program did not make, or by a copy that runs for longer than the wait.
bool wait_for_name(const std::string& path) {
  for (int step = 0; step < kWaitSteps; ++step) {
    const NameState state = clear_name(path);
    if (state == NameState::free) {
      return true;
    }
    if (state == NameState::foreign) {
      break;
    }
    const struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  errno = EEXIST;
  return false;
}

/// Takes the lock of a file just made; no other run holds it. Best effort: a file system
/// without locks has no other copy's lock to respect either.
void lock_new(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

/// Call with signals blocked, just after the name was or was not `made`: records the name for the
/// signal handlers, or, where the record cannot hold it, removes it again (ENAMETOOLONG).
bool record_name(TemporaryFile& file, bool made) {
  if (made && !temporary_created(file.path.c_str())) {
    unlink(file.path.c_str());
    errno = ENAMETOOLONG;
    made = false;
  }
  file.named = made;
  return made;
}

/// Makes the temporary under its name, where the file system has no anonymous files.
Reason create_named(TemporaryFile& file) {
  for (;;) {
    const sigset_t mask = block_signals();
    file.fd = open(file.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (!record_name(file, file.fd >= 0) && file.fd >= 0) {
      close(file.fd);
      file.fd = -1;
    }
    unblock_signals(mask);
    if (file.fd < 0) {
      if (errno == EEXIST && wait_for_name(file.path)) {
        continue;
      }
      return std::strerror(errno);
    }
    lock_new(file.fd);
    // Another run may have found the name free of a lock just before this one took it, and
    // removed it: then a new one is made.
    struct stat st;
    if (fstat(file.fd, &st) == 0 && st.st_nlink > 0) {
      return nullptr;
    }
    const sigset_t again = block_signals();
    temporary_gone();
    file.named = false;
    unblock_signals(again);
    close(file.fd);
  }
}

/// Gives the anonymous `file` its name.
Reason link_anonymous(TemporaryFile& file) {
  char own[32];
  std::snprintf(own, sizeof own, "/proc/self/fd/%d", file.fd);
  for (;;) {
    const sigset_t mask = block_signals();
    int linked = linkat(AT_FDCWD, own, AT_FDCWD, file.path.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {  // no /proc: needs CAP_DAC_READ_SEARCH
      linked = linkat(file.fd, "", AT_FDCWD, file.path.c_str(), AT_EMPTY_PATH);
    }
    const bool named = record_name(file, linked == 0);
    unblock_signals(mask);
    if (named) {
      return nullptr;
    }
    if (errno != EEXIST || !wait_for_name(file.path)) {
      return std::strerror(errno);
    }
  }
}

}  // namespace

std::string temporary_name_for(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(target)
                                    : std::string_view(target).substr(slash + 1);
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  char own[32];
  std::snprintf(own, sizeof own, ".sk-backup-%016llx", static_cast<unsigned long long>(hash));
  return slash == std::string::npos ? own : target.substr(0, slash + 1) + own;
}

Reason create_temporary(const std::string& target, TemporaryFile& file) {
  file.path = temporary_name_for(target);
  file.named = false;
  // A leftover is removed now, while this copy holds the fewest descriptors; one that another
  // copy holds is waited for only when this one needs the name.
  if (clear_name(file.path) == NameState::foreign) {
    errno = EEXIST;
    return std::strerror(errno);
  }
  file.fd = open(folder_of(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file.fd >= 0) {
    lock_new(file.fd);
    return nullptr;
  }
  // EISDIR and EINVAL: a kernel or file system without anonymous files.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return std::strerror(errno);
  }
  return create_named(file);
}

Reason put_in_place(TemporaryFile& file, const std::string& target) {
  if (!file.named) {
    if (const Reason reason = link_anonymous(file)) {
      return reason;
    }
    struct statfs where;
    if (fstatfs(file.fd, &where) == 0 && where.f_type == kBtrfsMagic && fsync(file.fd) != 0) {
      return std::strerror(errno);
    }
  }
  if (rename(file.path.c_str(), target.c_str()) != 0) {
    return std::strerror(errno);
  }
  const sigset_t mask = block_signals();
  temporary_gone();
  file.named = false;
  unblock_signals(mask);
  // Closing gives up the lock, only now that the temporary name is gone.
  const int closed = close(file.fd);
  file.fd = -1;
  return closed == 0 ? nullptr : std::strerror(errno);
}

void discard_temporary(TemporaryFile& file) {
  if (file.fd < 0 && !file.named) {
    return;  // in its place, or never made
  }
  const int error = errno;
  const sigset_t mask = block_signals();
  if (file.named) {
    unlink(file.path.c_str());
    temporary_gone();
    file.named = false;
  }
  unblock_signals(mask);
  if (file.fd >= 0) {
    close(file.fd);
    file.fd = -1;
  }
  errno = error;
}

}  // namespace console
