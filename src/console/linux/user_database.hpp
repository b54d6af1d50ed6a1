// Users and groups read from /etc/passwd and /etc/group by the program itself.
//
// Never through getpwuid, getgrgid, getgrouplist or initgroups: in the static program those
// load the system's NSS modules, which crash it where /etc/nsswitch.conf names modules such as
// systemd. A user that only a directory service knows (LDAP, sssd, systemd-homed) is not found
// here, and the callers treat that as unknown. Nothing here fails otherwise: a file that cannot be
// read holds no one.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace linux_shell {

/// A line of /etc/passwd.
struct Account {
  std::string name;
  gid_t group;  ///< the primary group
};

/// The account of `uid` in `passwd_file`; false where it has none.
bool find_account(uid_t uid, Account& account, const char* passwd_file = "/etc/passwd");

/// The groups `sudo -u` gives `account`: its primary group first, then every group of
/// `group_file` that lists its name as a member, each once.
std::vector<gid_t> groups_of(const Account& account, const char* group_file = "/etc/group");

/// The name of user `uid` for a message ("sk-alice"), else "user 1001".
std::string user_name(uid_t uid);

/// The name of group `gid` for a message ("players"), else its number.
std::string group_name(gid_t gid);

/// The home folder of user `uid` in `passwd_file`; empty where it has none, or one that is not
/// an absolute path.
std::string home_of(uid_t uid, const char* passwd_file = "/etc/passwd");

}  // namespace linux_shell
