#include "shell/linux/folder_owner.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "shell/linux/failure_advice.hpp"
#include "shell/linux/mounts.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

const char kNothingDone[] = ". Nothing was done.";

Result could_not(int error, const std::string& reason) {
  return Result::failure(error,
                         "sk-backup: this folder belongs to another user, and a run as root could "
                         "not become that user: " +
                             reason + kNothingDone);
}

}  // namespace

Result become_folder_owner() {
  if (geteuid() != 0) {
    return {};
  }
  // Looked at as the kernel holds it: a FUSE server of another user's, stopped, is not asked.
  struct stat folder;
  std::uint64_t mount;
  if (Result looked = look_at(AT_FDCWD, ".", folder, mount); !looked.ok()) {
    return Result::failure(looked.error(), "sk-backup: cannot tell who owns this folder: " +
                                               looked.text() + kNothingDone);
  }
  if (folder.st_uid == 0) {
    return {};
  }
  const std::string uid = std::to_string(folder.st_uid);
  Account account;
  if (!find_account(folder.st_uid, account)) {
    return Result::refusal("sk-backup: " + owner_unknown_advice(folder.st_uid) + kNothingDone);
  }
  const std::vector<gid_t> groups = groups_of(account);
  // The groups first: once the user is not root any more they could not be changed.
  if (setgroups(groups.size(), groups.data()) != 0) {
    return could_not(errno, std::string(std::strerror(errno)) + " (setting the groups of " +
                                account.name + "); this works instead: setpriv --reuid=" + uid +
                                " --regid=" + std::to_string(account.group) +
                                " --clear-groups sk-backup");
  }
  if (setresgid(account.group, account.group, account.group) != 0 ||
      setresuid(folder.st_uid, folder.st_uid, folder.st_uid) != 0) {
    return could_not(errno, std::strerror(errno));
  }
  uid_t real, effective, saved;
  if (getresuid(&real, &effective, &saved) != 0 || real != folder.st_uid ||
      effective != folder.st_uid || saved != folder.st_uid || getegid() != account.group) {
    return could_not(0, "the user did not change");
  }
  return {};
}

}  // namespace linux_shell
