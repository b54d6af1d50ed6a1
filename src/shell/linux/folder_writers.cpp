#include "shell/linux/folder_writers.hpp"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "shell/linux/files.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

// An access ACL as the kernel stores it: a 4-byte version, then entries of a 2-byte tag, 2-byte
// permissions and a 4-byte id, little-endian.
constexpr std::uint16_t kNamedUser = 0x02;
constexpr std::uint16_t kNamedGroup = 0x08;
constexpr std::uint16_t kWrite = 0x02;

/// True where `gid` is the private group of `user`, the one the program runs as (asked once for
/// each user: a test's child process may have become another).
bool own_private_group(gid_t gid, uid_t user) {
  static long g_user = -1;
  static long g_private = -1;
  if (g_user != static_cast<long>(user)) {
    g_user = user;
    g_private = is_private_group(user, getegid()) ? static_cast<long>(getegid()) : -1L;
  }
  return g_private >= 0 && static_cast<gid_t>(g_private) == gid;
}

/// The first entry of the access ACL of the folder `fd` that lets another user or group write
/// it, in `writers`; true where there is one, or where the ACL cannot be read.
bool acl_writers(int fd, uid_t user, Writers& writers) {
  unsigned char acl[4 + 8 * 64];
  const ssize_t size = getxattr(proc_path(fd).text, "system.posix_acl_access", acl, sizeof acl);
  if (size < 0) {
    return errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP;
  }
  for (ssize_t at = 4; at + 8 <= size; at += 8) {
    const unsigned tag = acl[at] | acl[at + 1] << 8;
    const unsigned permissions = acl[at + 2] | acl[at + 3] << 8;
    const unsigned id = acl[at + 4] | acl[at + 5] << 8 | acl[at + 6] << 16 |
                        static_cast<unsigned>(acl[at + 7]) << 24;
    if ((permissions & kWrite) == 0) {
      continue;
    }
    if (tag == kNamedUser && id != user && id != 0) {
      writers.kind = Writers::Kind::user;
      writers.id = id;
      return true;
    }
    if (tag == kNamedGroup && !own_private_group(id, user)) {
      writers.kind = Writers::Kind::group;
      writers.id = id;
      return true;
    }
  }
  return false;
}

}  // namespace

Writers folder_writers(int fd, const struct stat& st, const std::string& shown, uid_t user) {
  Writers writers{Writers::Kind::none, 0, shown};
  if (st.st_uid != user && st.st_uid != 0) {
    writers.kind = Writers::Kind::owner;
    writers.id = st.st_uid;
  } else if ((st.st_mode & S_IWOTH) != 0) {
    writers.kind = Writers::Kind::anyone;
  } else if ((st.st_mode & S_IWGRP) != 0 && !own_private_group(st.st_gid, user)) {
    writers.kind = Writers::Kind::group;
    writers.id = st.st_gid;
  } else if ((st.st_mode & S_IWGRP) != 0 && acl_writers(fd, user, writers) &&
             writers.kind == Writers::Kind::none) {
    writers.kind = Writers::Kind::group;  // an ACL that could not be read
    writers.id = st.st_gid;
  }
  return writers;
}

std::string could_have_put_it_there(const Writers& writers) {
  switch (writers.kind) {
    case Writers::Kind::none:
      return {};
    case Writers::Kind::owner:
      return writers.folder + " belongs to " + user_name(writers.id) +
             ", who could have put it there";
    case Writers::Kind::anyone:
      return writers.folder + " may be written by anyone, so another user could have put it there";
    case Writers::Kind::group:
      return writers.folder + " may be written by group " + group_name(writers.id) +
             ", so another player could have put it there";
    case Writers::Kind::user:
      return writers.folder + " may be written by " + user_name(writers.id) +
             ", who could have put it there";
  }
  return {};
}

}  // namespace linux_shell
