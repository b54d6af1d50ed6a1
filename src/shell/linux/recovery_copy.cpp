#include "shell/linux/recovery_copy.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/linux/fatal_signals.hpp"
#include "shell/linux/files.hpp"
#include "shell/linux/path_walk.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

constexpr int kNameTries = 16;

uid_t g_starting_user = 0;
bool g_starting_user_known = false;

// What a signal that ends the program removes: this run's recovery copy, until it is kept.
volatile sig_atomic_t g_recorded = 0;
int g_recorded_folder = -1;
char g_recorded_name[NAME_MAX + 1];

void remove_on_signal(bool stopping) {
  if (!stopping && g_recorded != 0) {
    unlinkat(g_recorded_folder, g_recorded_name, 0);
  }
}

void forget(RecoveryCopy& copy) {
  const sigset_t mask = block_signals();
  g_recorded = 0;
  unblock_signals(mask);
  copy.name.clear();
}

/// Whether the folder `fd` is the user's alone: theirs, and no one else may write it.
Result users_alone(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    return errno_result();
  }
  return st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0
             ? Result::refusal("it is not this user's alone")
             : Result{};
}

/// Opens the folder `name` in `at` as `folder`, without following a link, making it (0700)
/// where missing.
Result open_or_make(int at, const char* name, Fd& folder) {
  folder.reset(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder && errno == ENOENT && (mkdirat(at, name, 0700) == 0 || errno == EEXIST)) {
    folder.reset(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return folder ? users_alone(folder.get()) : errno_result();
}

/// Opens the state folder of the user the run acts as for reading, as `folder`, and says how to
/// name it in `shown`.
Result open_state_folder(std::string& shown, Fd& folder) {
  const bool trusted = g_starting_user_known && g_starting_user == geteuid() && geteuid() != 0;
  const char* state = trusted ? secure_getenv("XDG_STATE_HOME") : nullptr;
  const char* home = trusted ? secure_getenv("HOME") : nullptr;
  std::string base;
  const char* below[3] = {".local", "state", "sk-backup"};
  int first = 0;
  if (state != nullptr && state[0] == '/') {
    base = state;
    first = 2;
  } else {
    base = home != nullptr && home[0] == '/' ? std::string(home) : home_of(geteuid());
  }
  shown = base.empty() ? "the home folder" : base;
  if (base.empty()) {
    return Result::from_errno(ENOENT);
  }
  // The start may be reached through links (a home folder often is); nothing below it.
  folder.reset(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  Result opened = folder ? users_alone(folder.get()) : errno_result();
  for (int i = first; opened.ok() && i < 3; ++i) {
    shown = shown + "/" + below[i];
    Fd next;
    opened = open_or_make(folder.get(), below[i], next);
    folder = std::move(next);
  }
  return opened;
}

std::string fresh_name(const std::string& target_name) {
  std::uint32_t number = 0;
  if (getrandom(&number, sizeof number, GRND_NONBLOCK) != sizeof number) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    number = static_cast<std::uint32_t>(now.tv_nsec) ^ static_cast<std::uint32_t>(getpid() << 16);
  }
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".sk-backup-old-%08x", static_cast<unsigned>(number));
  return target_name + suffix;
}

/// Clones `from` into `fd`, else writes all of `bytes` into it; flushes it, then its folder
/// `folder`.
Result write_and_flush(int fd, int folder, int from, const char* bytes, std::size_t size) {
  Result result = ioctl(fd, FICLONE, from) == 0 ? Result{} : write_all(fd, bytes, size, 0);
  if (result.ok()) {
    result = flush(fd);
  }
  if (result.ok()) {
    const Fd readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    result = flush_folder(readable.get(), fd);
  }
  return result;
}

/// Makes the recovery copy in `copy.folder`, named for a report under `folder_shown`.
Result make_in(RecoveryCopy& copy, const std::string& folder_shown, int from,
               const std::string& target_name, const char* bytes, std::size_t size) {
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::string name = fresh_name(target_name);
    if (name.size() >= sizeof g_recorded_name) {
      return Result::from_errno(ENAMETOOLONG);
    }
    static const bool registered = on_fatal_signal(remove_on_signal);
    const sigset_t mask = block_signals();
    const Fd file(openat(copy.folder.get(), name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file && registered) {
      std::memcpy(g_recorded_name, name.c_str(), name.size() + 1);
      g_recorded_folder = copy.folder.get();
      g_recorded = 1;
      copy.name = name;
    }
    unblock_signals(mask);
    if (!file) {
      if (errno == EEXIST) {
        continue;
      }
      return errno_result();
    }
    if (!registered) {
      unlinkat(copy.folder.get(), name.c_str(), 0);
      return Result::from_errno(ENOMEM);
    }
    if (Result written = write_and_flush(file.get(), copy.folder.get(), from, bytes, size);
        !written.ok()) {
      unlinkat(copy.folder.get(), name.c_str(), 0);
      forget(copy);
      return written;
    }
    copy.shown = folder_shown.empty() ? name : folder_shown + "/" + name;
    return {};
  }
  return Result::from_errno(EEXIST);
}

}  // namespace

RecoveryCopy::~RecoveryCopy() {
  if (!kept && !name.empty()) {
    unlinkat(folder.get(), name.c_str(), 0);
    forget(*this);
  }
}

void remember_starting_user() {
  g_starting_user = geteuid();
  g_starting_user_known = true;
}

Result make_recovery_copy(std::string_view source_written, int target,
                          const std::string& target_name, const char* bytes, std::size_t size,
                          RecoveryCopy& copy) {
  std::string reasons;
  // Beside the source, as a report names it.
  Place source;
  Result walked = walk(source_written, Walking::to_read, source);
  const std::size_t cut = source_written.find_last_of("\\/");
  std::string beside(source_written.substr(0, cut == std::string_view::npos ? 0 : cut));
  for (char& c : beside) {
    c = c == '\\' ? '/' : c;
  }
  if (walked.ok()) {
    copy.folder.reset(openat(source.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!copy.folder) {
      copy.folder = std::move(source.folder);
    }
    walked = users_alone(copy.folder.get());
    if (walked.ok()) {
      walked = make_in(copy, beside, target, target_name, bytes, size);
    }
    if (walked.ok()) {
      return {};
    }
  }
  reasons = source.folder_shown + ": " + walked.text();
  std::string state_shown;
  Result made = open_state_folder(state_shown, copy.folder);
  if (made.ok()) {
    made = make_in(copy, state_shown, target, target_name, bytes, size);
  }
  if (made.ok()) {
    return {};
  }
  reasons += "; " + state_shown + ": " + made.text();
  return Result::refusal("no copy of its old bytes could be kept first (" + reasons +
                         "); the folder takes no new file, so it is left as it was");
}

void keep_recovery_copy(RecoveryCopy& copy) {
  copy.kept = true;
  const sigset_t mask = block_signals();
  g_recorded = 0;
  unblock_signals(mask);
}

}  // namespace linux_shell
