// Who may read a file, so that a copy never gives its bytes to anyone the source did not.
//
// Readers are told by the file's bits and its access ACL (a named entry under its mask), and
// conservatively: a user or group counts as a reader only where the file names them (as owner,
// group or ACL entry) or lets anyone read it, and the user the program runs as, who has just
// read it, counts too. A group's members are not looked up, so a copy may end up granting less
// than the source, never more. Nothing here fails but narrow_readers, where a copy's bits or
// ACL cannot be changed.
#pragma once

#include <sys/stat.h>

#include <utility>
#include <vector>

#include "shell/linux/result.hpp"

namespace linux_shell {

/// Who may read a file.
struct Readers {
  uid_t owner = 0;
  gid_t group = 0;
  bool owner_reads = false;
  bool group_reads = false;
  bool others_read = false;
  std::vector<std::pair<unsigned, unsigned>> named;  ///< ACL entries (tag, id) that may read
  uid_t user = 0;  ///< the user the program runs as, who reads the source to copy it
};

/// Who may read the open file `fd`, whose status is `st`, read by `user` (the program's user).
Readers readers_of(int fd, const struct stat& st, uid_t user);

/// Takes the right to read away from the new copy `fd`, by its bits or its ACL entries, from
/// everyone the copy would let read and `source` does not.
Result narrow_readers(int fd, const Readers& source);

/// True where `source` lets user `uid` read it.
bool reads_user(const Readers& source, uid_t uid);

/// True where the file whose status is `st` lets someone read whom `source` does not, by its
/// bits (a file written in place keeps its own, which cannot be narrowed).
bool grants_more(const struct stat& st, const Readers& source);

}  // namespace linux_shell
