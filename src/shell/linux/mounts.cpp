#include "shell/linux/mounts.hpp"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
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

// statmount (Linux 6.8) tells a mount's type and its mountinfo id in one call, by the mount's
// unique id (statx's STATX_MNT_ID_UNIQUE), where a read of mountinfo makes the kernel write out
// every mount. Declared here, as the C library's headers may not have it yet; its number is the
// same on every architecture.
constexpr long kStatmountCall = 457;
constexpr unsigned kStatxUniqueMountId = 0x4000;
constexpr std::uint64_t kMountBasics = 0x2;  // STATMOUNT_MNT_BASIC
constexpr std::uint64_t kMountType = 0x20;   // STATMOUNT_FS_TYPE

struct MountRequest {  // struct mnt_id_req, its first version
  std::uint32_t size;
  std::uint32_t spare;
  std::uint64_t id;
  std::uint64_t wanted;
};

struct MountStatus {  // the start of struct statmount, then room for its strings
  std::uint32_t size;
  std::uint32_t options;
  std::uint64_t mask;
  std::uint32_t device_major;
  std::uint32_t device_minor;
  std::uint64_t magic;
  std::uint32_t flags;
  std::uint32_t type;  // where its name starts in `strings`
  std::uint64_t id;
  std::uint64_t parent;
  std::uint32_t mountinfo_id;
  std::uint32_t mountinfo_parent;
  std::uint64_t rest[56];
  char strings[512];
};
static_assert(offsetof(MountStatus, type) == 36 && offsetof(MountStatus, mountinfo_id) == 56 &&
              offsetof(MountStatus, strings) == 512);

/// The type and mountinfo id of the mount whose unique id is `id`; false where statmount cannot
/// tell them.
bool stat_mount(std::uint64_t id, std::string& type, std::uint64_t& mountinfo_id) {
  const MountRequest request{sizeof request, 0, id, kMountBasics | kMountType};
  MountStatus status;
  if (syscall(kStatmountCall, &request, &status, sizeof status, 0) != 0 ||
      (status.mask & (kMountBasics | kMountType)) != (kMountBasics | kMountType) ||
      status.type >= sizeof status.strings) {
    return false;
  }
  const char* const name = status.strings + status.type;
  type.assign(name, strnlen(name, sizeof status.strings - status.type));
  mountinfo_id = status.mountinfo_id;
  return true;
}

/// Whether mounts are told by their unique ids and statmount: where the kernel has both and no
/// filter refuses them (a container's may), else by mountinfo alone. Decided once, on the root.
bool by_statmount() {
  static const bool works = [] {
    struct statx about;
    std::string type;
    std::uint64_t mountinfo_id = 0;
    return statx(AT_FDCWD, "/", AT_STATX_DONT_SYNC, kStatxUniqueMountId, &about) == 0 &&
           (about.stx_mask & kStatxUniqueMountId) != 0 &&
           stat_mount(about.stx_mnt_id, type, mountinfo_id);
  }();
  return works;
}

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
  const unsigned id_kind = by_statmount() ? kStatxUniqueMountId : STATX_MNT_ID;
  if (statx(folder, name, flags, STATX_BASIC_STATS | id_kind, &about) != 0) {
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
  mount = (about.stx_mask & id_kind) != 0 ? about.stx_mnt_id : 0;
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
  // Mountinfo is read only where statmount cannot tell the type, or for a FUSE mount's user.
  Mount mount;
  std::uint64_t mountinfo_id = id;
  if (by_statmount() && !stat_mount(id, mount.type, mountinfo_id)) {
    return {};
  }
  if ((!by_statmount() || mount.type.starts_with("fuse")) &&
      !find_mount(read_mountinfo(), mountinfo_id, mount)) {
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
