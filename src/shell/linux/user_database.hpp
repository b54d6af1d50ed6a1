// Users and groups read from /etc/passwd and /etc/group by the program itself.
//
// Never through getpwuid, getgrgid, getgrouplist or initgroups: in the static program those
// load the system's NSS modules, which crash it where /etc/nsswitch.conf names modules such as
// systemd. A user that only a directory service knows (LDAP, sssd, systemd-homed) is not found
// here, and the callers treat that as unknown. Nothing here fails otherwise: a file that cannot be
// read holds no one.
#pragma once

#include <sys/types.h>

#include <cstddef>
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

/// The most groups a process can have (NGROUPS_MAX): sudo, too, takes the first so many.
inline constexpr std::size_t kMostGroups = 65536;

/// The groups `sudo -u` gives `account`: its primary group first, then every group of
/// `group_file` that lists its name as a member, each once, the first kMostGroups of them. A line
/// is read as glibc reads it (the members are the rest of the line after its third colon, split
/// at commas); where a line is odd enough that the two could differ, it gives fewer groups here,
/// never more.
std::vector<gid_t> groups_of(const Account& account, const char* group_file = "/etc/group");

/// True where `gid` is the private group of user `uid`: the primary group of its account, named
/// as the user, with no member but the user, and the primary group of no other account (a line
/// of `passwd_file` that cannot be read counts as one).
bool is_private_group(uid_t uid, gid_t gid, const char* passwd_file = "/etc/passwd",
                      const char* group_file = "/etc/group");

/// The name of user `uid` for a message ("sk-alice"), else "user 1001".
std::string user_name(uid_t uid);

/// The name of group `gid` for a message ("players"), else its number.
std::string group_name(gid_t gid);

/// The home folder of user `uid` in `passwd_file`; empty where it has none, or one that is not
/// an absolute path.
std::string home_of(uid_t uid, const char* passwd_file = "/etc/passwd");

}  // namespace linux_shell
