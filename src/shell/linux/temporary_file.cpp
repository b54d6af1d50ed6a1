#include "shell/linux/temporary_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "shell/linux/fatal_signals.hpp"
#include "shell/linux/files.hpp"

namespace linux_shell {

namespace {

constexpr long kBtrfsMagic = 0x9123683e;
constexpr int kNameTries = 64;  // fresh names, each a 64-bit random number

/// ".sk-backup-" and `number` in 16 hexadecimal digits.
std::string name_of_number(std::uint64_t number) {
  std::string name = ".sk-backup-0000000000000000";
  for (std::size_t at = name.size(); number != 0; number >>= 4) {
    name[--at] = "0123456789abcdef"[number & 15];
  }
  return name;
}

/// The name to try at attempt `attempt`: the fixed one first, then fresh ones.
std::string name_to_try(int attempt, const std::string& target_name) {
  if (attempt == 0) {
    return temporary_name_for(target_name);
  }
  std::uint64_t number = 0;
  if (getrandom(&number, sizeof number, GRND_NONBLOCK) != sizeof number) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    number = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^
             static_cast<std::uint64_t>(now.tv_sec) ^ (static_cast<std::uint64_t>(getpid()) << 40) ^
             static_cast<std::uint64_t>(attempt);
  }
  return name_of_number(number);
}

/// Removes an earlier run's leftover under `name`, as the header states; anything else there is
/// left alone. False where nothing had that name.
bool clear_leftover(int folder, const char* name) {
  const Fd fd(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat held;
  struct stat named;
  if (fd && fstat(fd.get(), &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1 &&
      held.st_uid == geteuid() && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
      fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(held, named)) {
    unlinkat(folder, name, 0);
  }
  return fd || errno != ENOENT;
}

/// Whether `name` has the form of a temporary file's name.
bool temporary_form(const char* name) {
  const char prefix[] = ".sk-backup-";
  if (std::strncmp(name, prefix, sizeof prefix - 1) != 0 ||
      std::strlen(name) != sizeof prefix - 1 + 16) {
    return false;
  }
  for (const char* digit = name + sizeof prefix - 1; *digit != '\0'; ++digit) {
    if ((*digit < '0' || *digit > '9') && (*digit < 'a' || *digit > 'f')) {
      return false;
    }
  }
  return true;
}

/// Removes every leftover of the folder `folder` under a name of the temporary form, as for the
/// fixed name. Only where the fixed name was found taken: runs were at work or killed there.
void clear_leftovers(int folder) {
  const int readable = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = readable < 0 ? nullptr : fdopendir(readable);
  if (entries == nullptr) {
    if (readable >= 0) {
      close(readable);
    }
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    if (temporary_form(entry->d_name)) {
      clear_leftover(folder, entry->d_name);
    }
  }
  closedir(entries);
}

// What a signal that ends the program removes: the temporary file of this run that has a name.
volatile sig_atomic_t g_named = 0;
int g_named_folder = -1;
char g_named_name[NAME_MAX + 1];

void remove_on_signal(bool stopping) {
  if (!stopping && g_named != 0) {
    unlinkat(g_named_folder, g_named_name, 0);
  }
}

Result cannot_make(int error, const std::string& folder_shown) {
  return Result::failure(error, std::string("no new file could be made in ") + folder_shown + ": " +
                                    std::strerror(error));
}

}  // namespace

/// Call with signals blocked, just after `name` was or was not `made`: records it for a signal
/// that ends the program, or, where it cannot be recorded, removes it again.
bool TemporaryFile::record_name(const std::string& name, bool made) {
  static const bool registered = on_fatal_signal(remove_on_signal);
  if (made && (!registered || name.size() >= sizeof g_named_name)) {
    unlinkat(folder_, name.c_str(), 0);
    errno = registered ? ENAMETOOLONG : ENOMEM;
    made = false;
  }
  if (made) {
    std::memcpy(g_named_name, name.c_str(), name.size() + 1);
    g_named_folder = folder_;
    g_named = 1;
    name_ = name;
  }
  named_ = made;
  return made;
}

/// Forgets the name, once it is gone from the folder.
void TemporaryFile::forget_name() {
  const sigset_t mask = block_signals();
  g_named = 0;
  named_ = false;
  unblock_signals(mask);
}

/// Makes the temporary under a name, where the file system has no anonymous files.
Result TemporaryFile::create_named(const std::string& target_name,
                                   const std::string& folder_shown) {
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::string name = name_to_try(attempt, target_name);
    const sigset_t mask = block_signals();
    fd_.reset(
        openat(folder_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!record_name(name, bool(fd_))) {
      fd_.reset();
    }
    unblock_signals(mask);
    if (!fd_) {
      if (errno == EEXIST) {
        continue;
      }
      return cannot_make(errno, folder_shown);
    }
    // Another run may have found the name free of a lock just before this one took it, and
    // removed it: then another name is made.
    while (flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat st;
    if (fstat(fd_.get(), &st) == 0 && st.st_nlink > 0) {
      return {};
    }
    forget_name();
    fd_.reset();
  }
  return cannot_make(EEXIST, folder_shown);
}

/// Gives the anonymous file a name. With `held`, the caller holds every signal until the name
/// is gone again, and the name is not recorded for a handler (`named_` stays false).
Result TemporaryFile::link_anonymous(const std::string& target_name, bool held) {
  const ProcPath own = proc_path(fd_.get());
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::string name = name_to_try(attempt, target_name);
    const sigset_t mask = held ? sigset_t{} : block_signals();
    // By the descriptor itself where the kernel lets this user (Linux 6.10 and later, or with
    // CAP_DAC_READ_SEARCH), else through /proc.
    int linked = linkat(fd_.get(), "", folder_, name.c_str(), AT_EMPTY_PATH);
    if (linked != 0 && errno == ENOENT) {
      linked = linkat(AT_FDCWD, own.text, folder_, name.c_str(), AT_SYMLINK_FOLLOW);
    }
    if (held && linked == 0) {
      name_ = name;
      return {};
    }
    const bool named = !held && record_name(name, linked == 0);
    if (!held) {
      unblock_signals(mask);
    }
    if (named) {
      return {};
    }
    if (errno != EEXIST) {
      return errno_result();
    }
  }
  return Result::from_errno(EEXIST);
}

/// Step 3 for an anonymous file (whose status is `own`) on a file system where a flush before
/// the name is enough: named, checked and renamed with every signal held meanwhile, so that no
/// signal ever finds it named, and no handler is needed for it. A name left by a failure is
/// removed before the signals are let through, while it is still this very file.
Result TemporaryFile::link_and_rename(const struct stat& own, const std::string& target_name) {
  const sigset_t mask = block_signals();
  Result result = link_anonymous(target_name, true);
  struct stat there;
  const auto still_own = [&] {
    return fstatat(folder_, name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           same_file(own, there);
  };
  if (result.ok() && !still_own()) {
    // The name must still be the file written: a guard against this program's own runs.
    result = Result::refusal("the temporary file " + name_ + " was taken away");
  } else if (result.ok() && renameat(folder_, name_.c_str(), folder_, target_name.c_str()) != 0) {
    result = errno_result();
    if (still_own()) {
      unlinkat(folder_, name_.c_str(), 0);
    }
  }
  unblock_signals(mask);
  return result;
}

TemporaryFile::~TemporaryFile() {
  if (named_) {
    // Removed only while the name is still this very file.
    struct stat own;
    struct stat there;
    if (fstat(fd_.get(), &own) == 0 &&
        fstatat(folder_, name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        same_file(own, there)) {
      unlinkat(folder_, name_.c_str(), 0);
    }
    forget_name();
  }
}

std::string temporary_name_for(const std::string& target_name) {
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (const char c : target_name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  return name_of_number(hash);
}

Result TemporaryFile::create(int folder, const std::string& target_name,
                             const std::string& folder_shown) {
  folder_ = folder;
  if (clear_leftover(folder, temporary_name_for(target_name).c_str())) {
    clear_leftovers(folder);
  }
  fd_.reset(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd_) {
    while (flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    return {};
  }
  // EISDIR and EINVAL: a kernel or file system without anonymous files.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return cannot_make(errno, folder_shown);
  }
  return create_named(target_name, folder_shown);
}

Result TemporaryFile::commit(const std::string& target_name) {
  const bool anonymous = !named_;
  struct stat own;
  if (fstat(fd_.get(), &own) != 0) {
    return errno_result();
  }
  const bool btrfs = anonymous && file_system_type(fd_.get(), own.st_dev) == kBtrfsMagic;
  if (anonymous && !btrfs) {
    return link_and_rename(own, target_name);
  }
  if (anonymous) {
    if (Result linked = link_anonymous(target_name, false); !linked.ok()) {
      return linked;
    }
  }
  if (btrfs && fsync(fd_.get()) != 0) {
    return errno_result();
  }
  // The name must still be the file written: a guard against this program's own runs.
  struct stat there;
  if (fstatat(folder_, name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(own, there)) {
    forget_name();  // not this run's file any more: not to be removed
    return Result::refusal("the temporary file " + name_ + " was taken away");
  }
  if (renameat(folder_, name_.c_str(), folder_, target_name.c_str()) != 0) {
    return errno_result();
  }
  forget_name();
  return {};
}

}  // namespace linux_shell
