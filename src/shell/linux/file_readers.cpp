#include "shell/linux/file_readers.hpp"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace linux_shell {

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";
// An access ACL as the kernel stores it: a 4-byte version, then entries of a 2-byte tag, 2-byte
// permissions and a 4-byte id, little-endian.
enum Tag : unsigned {
  kOwner = 0x01,
  kUser = 0x02,
  kOwnGroup = 0x04,
  kGroup = 0x08,
  kMask = 0x10,
  kOther = 0x20
};
constexpr unsigned kRead = 0x04;
constexpr std::size_t kMostEntries = 512;

struct Entry {
  unsigned tag, permissions, id;
};

Entry entry_at(const unsigned char* at) {
  return {static_cast<unsigned>(at[0] | at[1] << 8), static_cast<unsigned>(at[2] | at[3] << 8),
          at[4] | at[5] << 8 | at[6] << 16 | static_cast<unsigned>(at[7]) << 24};
}

/// The access ACL of `fd` in `acl`, and its size in `size` (0 where it has none).
Result read_acl(int fd, unsigned char (&acl)[4 + 8 * kMostEntries], ssize_t& size) {
  size = fgetxattr(fd, kAccessAcl, acl, sizeof acl);
  if (size < 0) {
    const int error = errno;
    size = 0;
    return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP ? Result{}
                                                                       : Result::from_errno(error);
  }
  return {};
}

bool names(const Readers& readers, unsigned tag, unsigned id) {
  return std::find(readers.named.begin(), readers.named.end(), std::pair{tag, id}) !=
         readers.named.end();
}

bool reads_group(const Readers& source, gid_t gid) {
  return source.others_read || (gid == source.group && source.group_reads) ||
         names(source, kGroup, gid);
}

}  // namespace

Readers readers_of(int fd, const struct stat& st, uid_t user) {
  Readers readers{st.st_uid,
                  st.st_gid,
                  (st.st_mode & S_IRUSR) != 0,
                  (st.st_mode & S_IRGRP) != 0,
                  (st.st_mode & S_IROTH) != 0,
                  {},
                  user};
  unsigned char acl[4 + 8 * kMostEntries];
  ssize_t size = 0;
  if (!read_acl(fd, acl, size).ok()) {
    readers.group_reads = readers.others_read = false;  // only the owner, to be safe
    return readers;
  }
  bool mask = true;
  for (ssize_t at = 4; at + 8 <= size; at += 8) {
    const Entry entry = entry_at(acl + at);
    if (entry.tag == kMask) {
      mask = (entry.permissions & kRead) != 0;
    } else if (entry.tag == kOwnGroup) {
      readers.group_reads = (entry.permissions & kRead) != 0;
    }
  }
  for (ssize_t at = 4; mask && at + 8 <= size; at += 8) {
    const Entry entry = entry_at(acl + at);
    if ((entry.tag == kUser || entry.tag == kGroup) && (entry.permissions & kRead) != 0) {
      readers.named.emplace_back(entry.tag, entry.id);
    }
  }
  readers.group_reads = readers.group_reads && mask;
  return readers;
}

bool reads_user(const Readers& source, uid_t uid) {
  return uid == 0 || uid == source.user || source.others_read ||
         (uid == source.owner && source.owner_reads) || names(source, kUser, uid);
}

bool grants_more(const struct stat& st, const Readers& source) {
  return ((st.st_mode & S_IROTH) != 0 && !source.others_read) ||
         ((st.st_mode & S_IRGRP) != 0 && !reads_group(source, st.st_gid)) ||
         ((st.st_mode & S_IRUSR) != 0 && !reads_user(source, st.st_uid));
}

Result narrow_readers(int fd, const Readers& source) {
  struct stat copy;
  unsigned char acl[4 + 8 * kMostEntries];
  ssize_t size = 0;
  if (Result read = fstat(fd, &copy) == 0 ? read_acl(fd, acl, size) : errno_result(); !read.ok()) {
    return Result::failure(read.error(), "who may read it could not be told: " + read.text());
  }
  if (size == 0) {
    mode_t bits = copy.st_mode & 07777;
    bits &= reads_user(source, copy.st_uid) ? ~0u : ~static_cast<mode_t>(S_IRUSR);
    bits &= reads_group(source, copy.st_gid) ? ~0u : ~static_cast<mode_t>(S_IRGRP);
    bits &= source.others_read ? ~0u : ~static_cast<mode_t>(S_IROTH);
    if (bits != (copy.st_mode & 07777) && fchmod(fd, bits) != 0) {
      return Result::failure(
          errno, std::string("who may read it could not be narrowed: ") + std::strerror(errno));
    }
    return {};
  }
  bool changed = false;
  for (ssize_t at = 4; at + 8 <= size; at += 8) {
    const Entry entry = entry_at(acl + at);
    const bool reads = entry.tag == kOwner      ? reads_user(source, copy.st_uid)
                       : entry.tag == kUser     ? reads_user(source, entry.id)
                       : entry.tag == kOwnGroup ? reads_group(source, copy.st_gid)
                       : entry.tag == kGroup    ? reads_group(source, entry.id)
                       : entry.tag == kOther    ? source.others_read
                                                : true;
    if (!reads && (entry.permissions & kRead) != 0) {
      acl[at + 2] = static_cast<unsigned char>(acl[at + 2] & ~kRead);
      changed = true;
    }
  }
  if (changed && fsetxattr(fd, kAccessAcl, acl, static_cast<std::size_t>(size), 0) != 0) {
    return Result::failure(
        errno, std::string("who may read it could not be narrowed: ") + std::strerror(errno));
  }
  return {};
}

}  // namespace linux_shell
