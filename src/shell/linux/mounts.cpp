#include "shell/linux/mounts.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "shell/linux/files.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

/// A mount that check_mount() allowed, and whether it is FUSE.
struct Allowed {
  std::uint64_t id;
  bool fuse;
};
std::vector<Allowed> g_allowed;
uid_t g_allowed_user = 0;  // whose mounts they were allowed for

/// What mountinfo says of a mount.
struct Mount {
  std::string type;  ///< "ext4", "fuse.sshfs", "fuseblk", ...
  long owner = -1;   ///< a FUSE mount's user ("user_id="); -1 where it has none
};

/// The whole of /proc/self/mountinfo; empty where it cannot be read.
std::string read_mountinfo() {
  std::string text;
  (void)read_file("/proc/self/mountinfo", text);  // unread, it names no mount
  return text;
}

/// The mount `id` of mountinfo's `text`; false where it has none. A line is "ID PARENT
/// MAJOR:MINOR ROOT POINT OPTIONS [FIELDS] - TYPE SOURCE SUPER-OPTIONS", with blanks in paths
/// written as \040, so " - " ends the part that paths are in.
bool find_mount(std::string_view text, std::uint64_t id, Mount& mount) {
  const std::string start = std::to_string(id) + " ";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end;
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t dash = line.find(" - ");
    if (!line.starts_with(start) || dash == std::string_view::npos) {
      continue;
    }
    std::string_view rest = line.substr(dash + 3);
    mount.type = rest.substr(0, rest.find(' '));
    const std::size_t options = rest.rfind(' ');
    rest = options == std::string_view::npos ? std::string_view() : rest.substr(options);
    const std::size_t user =
        rest.find(",user_id=") != std::string_view::npos   ? rest.find(",user_id=") + 9
        : rest.find(" user_id=") != std::string_view::npos ? rest.find(" user_id=") + 9
                                                           : std::string_view::npos;
    mount.owner = user == std::string_view::npos
                      ? -1
                      : std::strtol(std::string(rest.substr(user, 12)).c_str(), nullptr, 10);
    return true;
  }
  return false;
}

}  // namespace

Result look_at(int folder, const char* name, struct stat& st, std::uint64_t& mount) {
  struct statx about;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | (*name == '\0' ? AT_EMPTY_PATH : 0);
  if (statx(folder, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &about) != 0) {
    return errno_result();
  }
  st = {};
  st.st_dev = makedev(about.stx_dev_major, about.stx_dev_minor);
  st.st_ino = about.stx_ino;
  st.st_mode = about.stx_mode;
  st.st_nlink = about.stx_nlink;
  st.st_uid = about.stx_uid;
  st.st_gid = about.stx_gid;
  st.st_rdev = makedev(about.stx_rdev_major, about.stx_rdev_minor);
  st.st_size = static_cast<off_t>(about.stx_size);
  st.st_blksize = about.stx_blksize;
  st.st_blocks = static_cast<blkcnt_t>(about.stx_blocks);
  st.st_atim = {about.stx_atime.tv_sec, about.stx_atime.tv_nsec};
  st.st_mtim = {about.stx_mtime.tv_sec, about.stx_mtime.tv_nsec};
  st.st_ctim = {about.stx_ctime.tv_sec, about.stx_ctime.tv_nsec};
  mount = (about.stx_mask & STATX_MNT_ID) != 0 ? about.stx_mnt_id : 0;
  return {};
}

Result check_mount(std::uint64_t id, const std::string& shown, uid_t user) {
  if (user != g_allowed_user) {
    g_allowed.clear();
    g_allowed_user = user;
  }
  if (id == 0 || std::any_of(g_allowed.begin(), g_allowed.end(),
                             [id](const Allowed& allowed) { return allowed.id == id; })) {
    return {};
  }
  Mount mount;
  if (!find_mount(read_mountinfo(), id, mount)) {
    return {};
  }
  if (mount.type == "proc" || mount.type == "sysfs") {
    return Result::refusal(shown + " is one of the kernel's files, not a file on a disk");
  }
  if (mount.type.starts_with("fuse") && mount.owner != 0 &&
      (mount.owner < 0 || static_cast<uid_t>(mount.owner) != user)) {
    const std::string whose =
        mount.owner < 0 ? std::string("another user") : user_name(static_cast<uid_t>(mount.owner));
    return Result::refusal(
        shown + " is on a mount of " + whose +
        (user == 0 ? ": run sk-backup as a player, not as root"
                   : "'s, whose own program answers for every file on it: ask that user for a "
                     "copy of the file"));
  }
  g_allowed.push_back({id, mount.type.starts_with("fuse")});
  return {};
}

bool known_and_not_fuse(std::uint64_t id) {
  return std::any_of(g_allowed.begin(), g_allowed.end(),
                     [id](const Allowed& allowed) { return allowed.id == id && !allowed.fuse; });
}

}  // namespace linux_shell
