#include "console/posix/folder_owner.hpp"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace console {

Reason become_folder_owner() {
  if (geteuid() != 0) {
    return nullptr;
  }
  struct stat folder;
  if (stat(".", &folder) != 0) {
    return std::strerror(errno);
  }
  if (folder.st_uid == 0) {
    return nullptr;
  }
  // The group first: once the user is not root any more it could not be changed.
  if (setgroups(0, nullptr) != 0 || setresgid(folder.st_gid, folder.st_gid, folder.st_gid) != 0 ||
      setresuid(folder.st_uid, folder.st_uid, folder.st_uid) != 0) {
    return std::strerror(errno);
  }
  uid_t real, effective, saved;
  if (getresuid(&real, &effective, &saved) != 0 || real != folder.st_uid ||
      effective != folder.st_uid || saved != folder.st_uid || getegid() != folder.st_gid) {
    return "The user did not change";
  }
  return nullptr;
}

}  // namespace console
