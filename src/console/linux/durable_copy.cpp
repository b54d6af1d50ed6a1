#include "console/linux/durable_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/linux/file_attributes.hpp"
#include "console/linux/file_readers.hpp"
#include "console/linux/in_place_copy.hpp"
#include "console/linux/path_walk.hpp"
#include "console/linux/temporary_file.hpp"
#include "console/linux/user_database.hpp"

namespace linux_shell {

namespace {

char g_copy_buffer[1 << 17];

/// Copies the bytes [`from`, `to`) of `in` to the same place in `out`: the kernel moves them
/// where it can (copy_file_range: a shared extent or a server-side copy), a buffer of this
/// process the rest.
Result copy_range(int in, int out, off_t from, off_t to) {
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
      return got < 0 ? errno_result(Side::source)
                     : Result::refusal("It changed while it was copied", Side::source);
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote =
          pwrite(out, g_copy_buffer + done, static_cast<std::size_t>(got - done), from + done);
      if (wrote < 0 && errno != EINTR) {
        return errno_result();
      }
      done += wrote > 0 ? wrote : 0;
    }
    from += got;
  }
  return {};
}

/// Copies the `size` bytes of `in` to `out`, each hole of `in` left a hole (SEEK_DATA and
/// SEEK_HOLE; copy_file_range alone fills them on ext4 and tmpfs). A source that holds more
/// than `size` bytes (the kernel's files, a FUSE file that never ends) is refused.
Result copy_data(int in, int out, off_t size) {
  for (off_t at = 0; at < size;) {
    off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
      break;  // a hole up to the end
    }
    off_t hole = data < 0 ? size : lseek(in, data, SEEK_HOLE);
    if (data < 0) {
      data = at;  // a file system that cannot tell: all of it is data
    }
    hole = hole < 0 || hole > size ? size : hole;
    if (Result copied = copy_range(in, out, data, hole); !copied.ok()) {
      return copied;
    }
    at = hole;
  }
  char more;
  ssize_t got;
  while ((got = pread(in, &more, 1, size)) < 0 && errno == EINTR) {
  }
  if (got != 0) {
    return got < 0 ? errno_result(Side::source)
                   : Result::refusal("It holds more than its size says", Side::source);
  }
  return ftruncate(out, size) == 0 ? Result{} : errno_result();
}

/// Flushes the folder of `target`, where `file` has just been renamed: the folder itself where
/// it can be read, else the whole file system that holds it.
Result flush_folder(const Place& target, int file) {
  const Fd folder = open_folder_for_reading(target);
  if (folder) {
    return flush(folder.get());
  }
  return syncfs(file) == 0 ? Result{} : errno_result();
}

/// Steps 1 to 3 for an open, checked source.
Result replace_file(int in, const struct stat& source, const Readers& readers,
                    const Place& target) {
  TemporaryFile temporary;
  Result result =
      create_temporary(target.folder.get(), target.name, target.folder_shown, temporary);
  if (result.ok()) {
    result = copy_data(in, temporary.fd.get(), source.st_size);
  }
  if (result.ok()) {
    result = finish_copy(temporary.fd.get(), source, readers, target);
  }
  if (result.ok()) {
    result = put_in_place(temporary, target.name);
  }
  if (result.ok()) {
    if (Result flushed = flush_folder(target, temporary.fd.get()); !flushed.ok()) {
      return {flushed.error, flushed.text + " (flushing the folder " + target.folder_shown +
                                 "; the copy is in place but may not survive a power cut)"};
    }
  }
  return result;
}

}  // namespace

Result copy_file(std::string_view source_written, std::string_view target_written) {
  Place from;
  if (Result walked = walk(source_written, Side::source, from); !walked.ok()) {
    return walked;
  }
  if (!from.exists) {
    return Result::from_errno(ENOENT, Side::source);
  }
  // Not blocking, so that a FIFO in the source's place cannot hang the program.
  const Fd in(openat(from.folder.get(), from.name.c_str(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat source;
  if (!in || fstat(in.get(), &source) != 0) {
    return errno_result(Side::source);
  }
  from.folder.reset();  // a copy holds as few descriptors as it can
  if (S_ISDIR(source.st_mode)) {
    return Result::from_errno(EISDIR, Side::source);
  }
  if (!S_ISREG(source.st_mode)) {
    return Result::refusal("Not a regular file", Side::source);
  }
  Place target;
  if (Result walked = walk(target_written, Side::target, target); !walked.ok()) {
    return walked;
  }
  if (target.exists && S_ISDIR(target.st.st_mode)) {
    return Result::from_errno(EISDIR);
  }
  if (target.exists && !S_ISREG(target.st.st_mode)) {
    return Result::refusal("Not a regular file");
  }
  if (target.exists && same_file(target.st, source)) {
    return Result::refusal("It is the same file as the source");
  }
  bool in_place = false;
  if (target.exists) {
    if (Result asked = must_write_in_place(target, in_place); !asked.ok()) {
      return asked;
    }
  }
  const Readers readers = readers_of(in.get(), source);
  if (in_place && (target.st.st_uid != geteuid() && target.st.st_uid != 0)) {
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
