#include "shell/linux/file_attributes.hpp"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "shell/linux/files.hpp"

namespace linux_shell {

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

/// True for the errors that mean "no such attribute here", not a fault.
bool absent(int error) {
  return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP;
}

/// A file whose attributes are read: through its descriptor `fd`, or, where `path` is given,
/// through that path (the /proc/self/fd path of a descriptor opened O_PATH, which the f* calls
/// do not take).
struct Holder {
  int fd;
  const char* path;
};

ssize_t get_attribute(const Holder& file, const char* name, void* value, std::size_t size) {
  return file.path != nullptr ? getxattr(file.path, name, value, size)
                              : fgetxattr(file.fd, name, value, size);
}

/// The attribute `name` of `file`, read whole into `value`.
Result read_attribute(const Holder& file, const char* name, std::string& value) {
  for (int tries = 0; tries < 4; ++tries) {
    const ssize_t size = get_attribute(file, name, nullptr, 0);
    if (size < 0) {
      return errno_result();
    }
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = get_attribute(file, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return {};
    }
    if (errno != ERANGE) {  // ERANGE: it grew in between
      return errno_result();
    }
  }
  return Result::from_errno(ERANGE);
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

/// The access ACL of `file` in `acl`, and in `has` whether it has one (where it has none, `acl`
/// is empty).
Result read_acl(const Holder& file, std::string& acl, bool& has) {
  Result read = read_attribute(file, kAccessAcl, acl);
  has = read.ok();
  if (!has) {
    acl.clear();
  }
  return has || absent(read.error()) ? Result{} : read;
}

/// Whether the new file `fd` grants no one more than a target with the permission bits `bits`
/// and no ACL: it has no ACL either, and no bit the target lacked.
bool grants_no_more(int fd, mode_t bits) {
  std::string acl;
  bool has = false;
  struct stat st;
  return read_acl({fd, nullptr}, acl, has).ok() && !has && fstat(fd, &st) == 0 &&
         (st.st_mode & 0777 & ~bits) == 0;
}

/// Gives `fd` exactly the access ACL of the target at `path` (whose permission bits are
/// `bits`), and its user.* attributes. Only a call that changes something is made, and a call
/// that the file system refuses fails the copy only where the copy, read back, is not as the
/// target and may grant more than it did (NTFS refuses to remove an ACL that is not there).
Result take_acl_and_attributes(int fd, const char* path, mode_t bits) {
  const Holder target{-1, path};
  const Holder own{fd, nullptr};
  // The target's attribute names first: an ACL is one of them, and where it is not listed the
  // target has none, which is not read (a read of an ACL costs several times the list). Most
  // files have no attribute at all: asked for the size first, they need no buffer.
  std::string names;
  ssize_t length = listxattr(path, nullptr, 0);
  if (length > 0) {
    names.resize(static_cast<std::size_t>(length) + 1);
    length = listxattr(path, names.data(), names.size() - 1);
  }
  const std::string_view listed(names.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
  const bool acl_listed =
      length < 0 ||
      listed.find(std::string_view(kAccessAcl, sizeof kAccessAcl)) != std::string_view::npos;
  std::string acl;
  std::string made;
  bool has = false;
  bool made_has = false;
  if (Result read = acl_listed ? read_acl(target, acl, has) : Result{}; !read.ok()) {
    return Result::failure(read.error(), "its ACL could not be read: " + read.text());
  }
  if (!read_acl(own, made, made_has).ok() || has != made_has || acl != made) {
    const int set =
        has ? fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) : fremovexattr(fd, kAccessAcl);
    const int refused = set != 0 && (has || !absent(errno)) ? errno : 0;
    // Read back: as the target, or (where the target has no ACL) no more than its bits.
    bool now_has = false;
    const bool read_back = refused != 0 && read_acl(own, made, now_has).ok();
    if (refused != 0 && !(read_back && now_has == has && made == acl) &&
        (has || !grants_no_more(fd, bits))) {
      return Result::failure(refused, std::string(has ? "its ACL could not be kept: "
                                                      : "the folder's default ACL could not be "
                                                        "taken off the copy: ") +
                                          std::strerror(refused));
    }
  }
  for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
    const std::string name(names.c_str() + at);
    at += name.size() + 1;
    std::string value;
    if (std::string_view(name).starts_with("user.") &&
        read_attribute(target, name.c_str(), value).ok() &&
        fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      // Best effort: a file system without user attributes loses nothing that protects a file.
    }
  }
  return {};
}

}  // namespace

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
    if (Result kept = take_acl_and_attributes(fd, proc_path(file.get()).text, now.st_mode & 0777);
        !kept.ok()) {
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
