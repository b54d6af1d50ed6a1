#include "console/linux/in_place_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "console/linux/file_attributes.hpp"

namespace linux_shell {

namespace {

constexpr off_t kMostBytes = off_t{64} << 20;

/// Bytes held in memory, not zeroed first (a settings file may be tens of MiB).
struct Bytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

/// Reads all of the `size` bytes of `fd` into `bytes`; more than `size` is a failure (EFBIG).
bool read_whole(int fd, off_t size, Bytes& bytes) {
  const std::size_t room = static_cast<std::size_t>(size) + 1;
  bytes.data = std::make_unique_for_overwrite<char[]>(room);
  bytes.size = 0;
  while (bytes.size < room) {
    const ssize_t got =
        pread(fd, bytes.data.get() + bytes.size, room - bytes.size, static_cast<off_t>(bytes.size));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      break;
    }
    bytes.size += static_cast<std::size_t>(got);
  }
  if (bytes.size > static_cast<std::size_t>(size)) {
    errno = EFBIG;
    return false;
  }
  return true;
}

/// Writes `bytes` over the start of `fd`, cuts it to their length, gives it `modified` and
/// flushes it.
Result write_bytes(int fd, const Bytes& bytes, const struct timespec& modified) {
  for (std::size_t done = 0; done < bytes.size;) {
    const ssize_t wrote =
        pwrite(fd, bytes.data.get() + done, bytes.size - done, static_cast<off_t>(done));
    if (wrote < 0 && errno != EINTR) {
      return errno_result();
    }
    done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
  }
  if (ftruncate(fd, static_cast<off_t>(bytes.size)) != 0) {
    return errno_result();
  }
  take_time(fd, modified);
  return flush(fd);
}

}  // namespace

Result must_write_in_place(const Place& target, bool& in_place) {
  in_place = false;
  const int folder = target.folder.get();
  if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
    if (errno != EACCES) {
      return Result{errno, target.folder_shown + ": " + std::strerror(errno)};
    }
    in_place = true;
    return {};
  }
  struct statx st;
  if (statx(folder, "", AT_EMPTY_PATH, STATX_MODE | STATX_UID, &st) != 0) {
    return errno_result();
  }
  const uid_t user = geteuid();
  in_place = ((st.stx_mode & S_ISVTX) != 0 && st.stx_uid != user && target.st.st_uid != user) ||
             (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_APPEND) != 0;
  return {};
}

Result write_in_place(int in, const struct stat& source, const Place& target) {
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
  if (!read_whole(in, source.st_size, bytes)) {
    return errno == EFBIG ? Result::refusal("It holds more than its size says", Side::source)
                          : errno_result(Side::source);
  }
  const Fd out(openat(target.folder.get(), target.name.c_str(),
                      O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!out) {
    return errno_result();
  }
  struct stat st;
  Bytes old;
  if (fstat(out.get(), &st) != 0 || !same_file(st, target.st) || st.st_nlink != 1) {
    return Result::refusal("The file changed while it was copied");
  }
  if (!read_whole(out.get(), st.st_size, old)) {
    return errno_result();
  }
  if (fallocate(out.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size)) != 0) {
    // A hint only: a file system without it may still take the bytes.
  }
  Result written = write_bytes(out.get(), bytes, source.st_mtim);
  if (written.ok()) {
    return written;
  }
  const Result undone = write_bytes(out.get(), old, st.st_mtim);
  if (!undone.ok()) {
    const bool full = written.error == ENOSPC || written.error == EDQUOT;
    written.text +=
        "; " + target.shown + " is now damaged: " +
        (full ? "free some space and copy it again" : "copy it again once that is mended");
  }
  return written;
}

}  // namespace linux_shell
