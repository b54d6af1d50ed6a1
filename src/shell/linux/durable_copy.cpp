#include "shell/linux/durable_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "shell/linux/file_attributes.hpp"
#include "shell/linux/file_readers.hpp"
#include "shell/linux/files.hpp"
#include "shell/linux/in_place_copy.hpp"
#include "shell/linux/path_walk.hpp"
#include "shell/linux/temporary_file.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

char g_copy_buffer[1 << 17];

// A source that changes while it is read is copied again, after these pauses (1.3 s in all),
// and refused after the last.
constexpr int kPausesMs[] = {0, 10, 40, 250, 1000};
// On FUSE, up to this size (a settings file), a source is copied through memory and read a
// second time, to see a writer where times do not move on a write (FAT and exFAT through FUSE).
// Elsewhere times move on every write, and the kernel copies alone.
constexpr off_t kComparedMost = off_t{512} << 10;
constexpr long kFuseMagic = 0x65735546;

const char kChanged[] =
    "it changed while it was copied (is the game running? close it and copy again)";

/// Copies the bytes [`from`, `to`) of `in` to the same place in `out`: the kernel moves them
/// where it can (copy_file_range: a shared extent or a server-side copy), a buffer of this
/// process the rest. A source that ends before `to` sets `changed`.
Result copy_range(int in, int out, off_t from, off_t to, bool& changed) {
  while (from < to) {
    off_t in_at = from;
    off_t out_at = from;
    const ssize_t copied =
        copy_file_range(in, &in_at, out, &out_at, static_cast<std::size_t>(to - from), 0);
    if (copied > 0) {
      from += copied;
      continue;
    }
    if (copied < 0 && errno == EINTR) {
      continue;
    }
    const std::size_t want = std::min<std::size_t>(sizeof g_copy_buffer, to - from);
    const ssize_t got = pread(in, g_copy_buffer, want, from);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      changed = got == 0;
      return got < 0 ? errno_result().on(Side::source) : Result{};
    }
    if (Result wrote = write_all(out, g_copy_buffer, static_cast<std::size_t>(got), from);
        !wrote.ok()) {
      return wrote;
    }
    from += got;
  }
  return {};
}

/// Copies the `size` bytes of `in` to `out`, each hole of `in` left a hole (SEEK_DATA and
/// SEEK_HOLE; copy_file_range alone fills them on ext4 and tmpfs). A source that holds more
/// than `size` bytes (the kernel's files, a FUSE file that never ends) is refused; one that
/// holds fewer sets `changed`. The length of `out` is set only where it is not yet `size` (FAT
/// through FUSE refuses any ftruncate).
Result copy_data(int in, int out, off_t size, bool& changed) {
  for (off_t at = 0; at < size && !changed;) {
    off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
      break;  // a hole up to the end, or a source cut short: the length tells below
    }
    off_t hole = data < 0 ? size : lseek(in, data, SEEK_HOLE);
    if (data < 0) {
      data = at;  // a file system that cannot tell: all of it is data
    }
    hole = hole < 0 || hole > size ? size : hole;
    if (Result copied = copy_range(in, out, data, hole, changed); !copied.ok()) {
      return copied;
    }
    at = hole;
  }
  if (changed) {
    return {};
  }
  char more;
  ssize_t got;
  while ((got = pread(in, &more, 1, size)) < 0 && errno == EINTR) {
  }
  if (got != 0) {
    return got < 0 ? errno_result().on(Side::source)
                   : Result::refusal("it holds more than its size says").on(Side::source);
  }
  struct stat now;
  if (fstat(out, &now) != 0) {
    return errno_result();
  }
  return now.st_size == size || ftruncate(out, size) == 0 ? Result{} : errno_result();
}

/// Reads up to `size` bytes of `in` from its start into `bytes`, how many in `done`.
Result read_start(int in, char* bytes, std::size_t size, std::size_t& done) {
  for (done = 0; done < size;) {
    const ssize_t got = pread(in, bytes + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return got < 0 ? errno_result() : Result{};
    }
    done += static_cast<std::size_t>(got);
  }
  return {};
}

/// Copies the `size` bytes of the small file `in` to `out` through memory, and reads them a
/// second time: `changed` where the two reads differ or hold another length (a writer whose
/// writes leave the file's times as they were: FAT and exFAT through FUSE).
Result copy_small(int in, int out, off_t size, bool& changed) {
  const std::size_t length = static_cast<std::size_t>(size);
  // The copy buffer where both reads fit (its pages are touched once per run), else the heap.
  std::unique_ptr<char[]> held;
  char* bytes = g_copy_buffer;
  if (2 * length + 2 > sizeof g_copy_buffer) {
    held.reset(new (std::nothrow) char[2 * length + 2]);
    bytes = held.get();
  }
  if (bytes == nullptr) {
    return Result::from_errno(ENOMEM).on(Side::source);
  }
  std::size_t first = 0;
  if (Result read = read_start(in, bytes, length + 1, first); !read.ok()) {
    return std::move(read).on(Side::source);
  }
  changed = first != length;
  if (Result wrote = changed ? Result{} : write_all(out, bytes, length, 0); !wrote.ok()) {
    return wrote;
  }
  std::size_t second = 0;
  if (Result read = changed ? Result{} : read_start(in, bytes + length + 1, length + 1, second);
      !read.ok()) {
    return std::move(read).on(Side::source);
  }
  changed = changed || second != length || std::memcmp(bytes, bytes + length + 1, length) != 0;
  return {};
}

/// The size, modification time and change time of `in` in `source`, as the file system has
/// them now (a FUSE server is asked, not the kernel's cache of its answers, whose times differ).
Result stamp(int in, struct stat& source) {
  struct statx now;
  if (statx(in, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE | STATX_MTIME | STATX_CTIME,
            &now) != 0) {
    return errno_result();
  }
  source.st_size = static_cast<off_t>(now.stx_size);
  source.st_mtim = {now.stx_mtime.tv_sec, now.stx_mtime.tv_nsec};
  source.st_ctim = {now.stx_ctime.tv_sec, now.stx_ctime.tv_nsec};
  return {};
}

/// Copies the source `in` into `out` and checks that no one wrote it meanwhile: its size and
/// times before (in `source`) and after are the same, and a small file reads the same twice.
/// `changed` where it was written.
Result copy_once(int in, struct stat& source, int out, bool& changed) {
  changed = false;
  if (Result stamped = stamp(in, source); !stamped.ok()) {
    return std::move(stamped).on(Side::source);
  }
  struct statfs where;
  const bool compared = source.st_size <= kComparedMost && fstatfs(in, &where) == 0 &&
                        static_cast<long>(where.f_type) == kFuseMagic;
  const struct stat before = source;
  Result result = compared ? copy_small(in, out, source.st_size, changed)
                           : copy_data(in, out, source.st_size, changed);
  if (result.ok()) {
    result = stamp(in, source).on(Side::source);
  }
  changed = changed || source.st_size != before.st_size ||
            source.st_mtim.tv_sec != before.st_mtim.tv_sec ||
            source.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
            source.st_ctim.tv_sec != before.st_ctim.tv_sec ||
            source.st_ctim.tv_nsec != before.st_ctim.tv_nsec;
  source = before;
  return result;
}

/// Steps 1 to 3 for an open, checked source: while the source changes it is copied again, into
/// a new temporary file, and where it keeps changing it is refused.
Result replace_file(int in, struct stat& source, const Readers& readers, const Place& target) {
  for (const int pause : kPausesMs) {
    const struct timespec wait = {pause / 1000, pause % 1000 * 1000000L};
    if (pause > 0) {
      nanosleep(&wait, nullptr);
    }
    TemporaryFile temporary;
    Result result = temporary.create(target.folder.get(), target.name, target.folder_shown);
    bool changed = false;
    if (result.ok()) {
      result = copy_once(in, source, temporary.descriptor(), changed);
    }
    if (result.ok() && changed) {
      continue;
    }
    if (result.ok()) {
      // The copy's bytes start on their way to the disk now, while its owner, bits, ACL and time
      // are given; the flush that follows then waits for less. Only a start: the flush is what
      // makes them durable, and what reports a failure.
      (void)sync_file_range(temporary.descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
      result = finish_copy(temporary.descriptor(), source, readers, target);
    }
    if (result.ok()) {
      result = temporary.commit(target.name);
    }
    if (result.ok()) {
      if (Result flushed = flush_folder_of(target, temporary.descriptor()); !flushed.ok()) {
        return std::move(flushed).followed_by(" (flushing the folder " + target.folder_shown +
                                              "; the copy is in place but may not survive a "
                                              "power cut)");
      }
    }
    return result;
  }
  return Result::refusal(kChanged).on(Side::source);
}

}  // namespace

Result copy_file(std::string_view source_written, std::string_view target_written) {
  Place from;
  if (Result walked = walk(source_written, Walking::to_read, from); !walked.ok()) {
    return std::move(walked).on(Side::source);
  }
  if (!from.exists) {
    return Result::from_errno(ENOENT).on(Side::source);
  }
  // Not blocking, so that a FIFO in the source's place cannot hang the program.
  const Fd in(openat(from.folder.get(), from.name.c_str(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat source;
  if (!in || fstat(in.get(), &source) != 0) {
    return errno_result().on(Side::source);
  }
  from.folder.reset();  // a copy holds as few descriptors as it can
  if (S_ISDIR(source.st_mode)) {
    return Result::from_errno(EISDIR).on(Side::source);
  }
  if (!S_ISREG(source.st_mode)) {
    return Result::refusal("not a regular file").on(Side::source);
  }
  Place target;
  if (Result walked = walk(target_written, Walking::to_write, target); !walked.ok()) {
    return walked;
  }
  if (target.exists && S_ISDIR(target.st.st_mode)) {
    return Result::from_errno(EISDIR);
  }
  if (target.exists && !S_ISREG(target.st.st_mode)) {
    return Result::refusal("not a regular file");
  }
  if (target.exists && same_file(target.st, source)) {
    return Result::refusal("it is the same file as the source");
  }
  bool in_place = false;
  if (target.exists) {
    if (Result asked = must_write_in_place(target, in_place); !asked.ok()) {
      return asked;
    }
  }
  const Readers readers = readers_of(in.get(), source, target.user);
  if (in_place && (target.st.st_uid != target.user && target.st.st_uid != 0)) {
    return Result::refusal("it belongs to " + user_name(target.st.st_uid) +
                           ", and the folder takes no new file: written in place, it would give "
                           "that user the bytes; it is left as it was");
  }
  if (in_place && grants_more(target.st, readers)) {
    return Result::refusal(
        "it lets others read it whom the source does not, and the folder takes no new file: "
        "written in place, it would give them the bytes; it is left as it was");
  }
  return in_place ? write_in_place(in.get(), source, source_written, target)
                  : replace_file(in.get(), source, readers, target);
}

}  // namespace linux_shell
