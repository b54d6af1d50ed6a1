#include "shell/linux/in_place_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "shell/linux/fatal_signals.hpp"
#include "shell/linux/files.hpp"
#include "shell/linux/recovery_copy.hpp"

namespace linux_shell {

namespace {

constexpr off_t kMostBytes = off_t{64} << 20;
constexpr std::size_t kChunk = std::size_t{1} << 20;  // bytes written per call
constexpr std::size_t kBlock = 4096;                  // the unit of the write-back

/// Bytes held in memory, not zeroed first (a settings file may be tens of MiB).
struct Bytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

const char kNoMemory[] =
    "there is not enough memory to write it in place, where a failure must be undone; the "
    "folder takes no new file, so it is left as it was";

/// Memory in `bytes` for a file of `size` bytes and one more; refused where it cannot be had.
Result hold(off_t size, Bytes& bytes) {
  bytes.data.reset(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]);
  bytes.size = 0;
  return bytes.data ? Result{} : Result::refusal(kNoMemory);
}

/// Reads all of the `size` bytes of `fd` into `bytes` (held for them); more than `size` is
/// refused.
Result read_whole(int fd, off_t size, Bytes& bytes) {
  const std::size_t most = static_cast<std::size_t>(size) + 1;
  while (bytes.size < most) {
    const ssize_t got =
        pread(fd, bytes.data.get() + bytes.size, most - bytes.size, static_cast<off_t>(bytes.size));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return errno_result();
    }
    if (got == 0) {
      break;
    }
    bytes.size += static_cast<std::size_t>(got);
  }
  if (bytes.size > static_cast<std::size_t>(size)) {
    return Result::refusal("it holds more than its size says");
  }
  return {};
}

/// Writes `bytes` over the start of `fd` and cuts it to their length. `reached` is the end of
/// the furthest range a write was asked for. Calls nothing that allocates: it runs with every
/// signal held.
Result write_new(int fd, const Bytes& bytes, std::size_t& reached) {
  for (std::size_t done = 0; done < bytes.size;) {
    const std::size_t want = std::min(kChunk, bytes.size - done);
    reached = done + want;
    if (Result wrote = write_all(fd, bytes.data.get() + done, want, static_cast<off_t>(done));
        !wrote.ok()) {
      return wrote;
    }
    done += want;
  }
  return ftruncate(fd, static_cast<off_t>(bytes.size)) == 0 ? Result{} : errno_result();
}

/// Puts back, of `old`, each block below `reached` where `written` differs from it (no other
/// changed), then the old length. Allocates nothing.
Result write_back(int fd, const Bytes& old, const Bytes& written, std::size_t reached) {
  const std::size_t end = std::min(reached, old.size);
  for (std::size_t at = 0; at < end; at += kBlock) {
    const std::size_t length = std::min(kBlock, end - at);
    const std::size_t same = at >= written.size ? 0 : std::min(length, written.size - at);
    if (same == length && std::memcmp(old.data.get() + at, written.data.get() + at, length) == 0) {
      continue;
    }
    if (Result wrote = write_all(fd, old.data.get() + at, length, static_cast<off_t>(at));
        !wrote.ok()) {
      return wrote;
    }
  }
  return ftruncate(fd, static_cast<off_t>(old.size)) == 0 ? Result{} : errno_result();
}

/// What a file holds after a failure, read back from the disk.
enum class Holds { old_bytes, new_bytes, neither };

Holds read_back(int fd, const Bytes& old, const Bytes& written) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    return Holds::neither;
  }
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  bool is_old = size == old.size;
  bool is_new = size == written.size;
  char buffer[1 << 14];
  for (std::size_t at = 0; at < size && (is_old || is_new);) {
    const ssize_t got =
        pread(fd, buffer, std::min(sizeof buffer, size - at), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return Holds::neither;
    }
    const std::size_t n = static_cast<std::size_t>(got);
    is_old = is_old && std::memcmp(buffer, old.data.get() + at, n) == 0;
    is_new = is_new && std::memcmp(buffer, written.data.get() + at, n) == 0;
    at += n;
  }
  return is_new ? Holds::new_bytes : is_old ? Holds::old_bytes : Holds::neither;
}

}  // namespace

Result must_write_in_place(const Place& target, bool& in_place) {
  in_place = false;
  const int folder = target.folder.get();
  if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
    if (errno != EACCES) {
      return Result::failure(errno, target.folder_shown + ": " + std::strerror(errno));
    }
    in_place = true;
    return {};
  }
  struct statx st;
  if (statx(folder, "", AT_EMPTY_PATH, STATX_MODE | STATX_UID, &st) != 0) {
    return errno_result();
  }
  const uid_t user = target.user;
  in_place = ((st.stx_mode & S_ISVTX) != 0 && st.stx_uid != user && target.st.st_uid != user) ||
             (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_APPEND) != 0;
  return {};
}

Result write_in_place(int in, const struct stat& source, std::string_view source_written,
                      const Place& target) {
  if (target.st.st_nlink > 1) {
    return Result::refusal(
        "it has other names (hard links), which would change with it; the "
        "folder takes no new file, so it is left as it was");
  }
  if (source.st_size > kMostBytes || target.st.st_size > kMostBytes) {
    return Result::refusal(
        "over 64 MiB is not written in place, where a failure could not be "
        "undone; the folder takes no new file, so it is left as it was");
  }
  Bytes bytes;
  if (Result held = hold(source.st_size, bytes); !held.ok()) {
    return held;
  }
  if (Result read = read_whole(in, source.st_size, bytes); !read.ok()) {
    return std::move(read).on(Side::source);
  }
  const Fd out(openat(target.folder.get(), target.name.c_str(),
                      O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!out) {
    return errno_result();
  }
  struct stat st;
  Bytes old;
  if (fstat(out.get(), &st) != 0 || !same_file(st, target.st) || st.st_nlink != 1) {
    return Result::refusal("the file changed while it was copied");
  }
  if (Result held = hold(st.st_size, old); !held.ok()) {
    return held;
  }
  if (Result read = read_whole(out.get(), st.st_size, old); !read.ok()) {
    // A target that grew since it was looked at is written to meanwhile.
    return read.error() == 0 ? Result::from_errno(EFBIG) : read;
  }
  RecoveryCopy recovery;
  if (Result kept = make_recovery_copy(source_written, out.get(), target.name, old.data.get(),
                                       old.size, recovery);
      !kept.ok()) {
    return kept;
  }
  if (fallocate(out.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size)) != 0) {
    // A hint only: a file system without it may still take the bytes.
  }
  // From the first write until the file is whole again, old or new, every signal waits.
  const sigset_t mask = block_signals();
  std::size_t reached = 0;
  Result failed = write_new(out.get(), bytes, reached);
  if (!failed.ok()) {
    // What the write-back leaves is read back below.
    static_cast<void>(write_back(out.get(), old, bytes, reached));
  }
  unblock_signals(mask);

  if (failed.ok()) {
    take_time(out.get(), source.st_mtim);
    if (Result flushed = flush(out.get()); !flushed.ok()) {
      keep_recovery_copy(recovery);
      return std::move(flushed).followed_by(" (" + target.shown +
                                            " holds the new copy, which may not survive a power "
                                            "cut; its old bytes are kept in " +
                                            recovery.shown + ")");
    }
    return {};
  }
  const Holds holds = read_back(out.get(), old, bytes);
  if (holds != Holds::neither) {
    take_time(out.get(), holds == Holds::old_bytes ? st.st_mtim : source.st_mtim);
    std::string left;
    if (holds == Holds::new_bytes) {
      left = " (" + target.shown + " holds the new copy all the same)";
    }
    if (!flush(out.get()).ok()) {
      keep_recovery_copy(recovery);
      left += "; it may not survive a power cut: its old bytes are kept in " + recovery.shown;
    }
    return std::move(failed).followed_by(left);
  }
  keep_recovery_copy(recovery);
  const bool full = failed.error() == ENOSPC || failed.error() == EDQUOT;
  return std::move(failed).followed_by(
      "; " + target.shown + " is now damaged: its old bytes are kept in " + recovery.shown +
      (full ? "; free some space, then copy that file over it"
            : "; copy that file over it once that is mended"));
}

}  // namespace linux_shell
