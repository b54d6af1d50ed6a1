#include "console/linux/path_walk.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <vector>

#include "console/linux/user_database.hpp"
#include "console/linux/windows_names.hpp"

namespace linux_shell {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit
constexpr long kFuseMagic = 0x65735546;

/// One walk's state: whose failures they are, how many links it has followed.
struct Walk {
  Side side;
  int links = 0;
};

/// The user that mounted the FUSE file system `fd` is on (its "user_id=" in
/// /proc/self/mountinfo, found by mount id, as btrfs subvolumes change st_dev); -1 if unknown.
long fuse_owner(int fd) {
  struct statx about;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &about) != 0 ||
      (about.stx_mask & STATX_MNT_ID) == 0) {
    return -1;
  }
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    unsigned long long id = 0;
    std::istringstream(line) >> id;
    // The last one: the mount's own options end the line, while its path and source before
    // them are the mounting user's to choose.
    const std::size_t at = line.rfind("user_id=");
    if (id == about.stx_mnt_id) {
      return at == std::string::npos ? -1 : std::strtol(line.c_str() + at + 8, nullptr, 10);
    }
  }
  return -1;
}

/// Refuses the kernel's files, whatever the user, and for a run that stays root a `folder`
/// (whose status is `st`) that anyone but root may write. `parent` is the device of the folder
/// it was found in: only an entry on another device can be on another file system.
Result check(int fd, const struct stat& st, dev_t parent, bool folder, const std::string& shown,
             Side side) {
  const long type = st.st_dev != parent ? file_system_type(fd, st.st_dev) : 0;
  if (type == PROC_SUPER_MAGIC || type == SYSFS_MAGIC) {
    return Result::refusal(shown + " is one of the kernel's files, not a file on a disk", side);
  }
  if (!folder || geteuid() != 0) {
    return {};
  }
  const char* const instead = ": run sk-backup as a player, not as root";
  if (st.st_uid != 0) {
    return Result::refusal(shown + " belongs to " + user_name(st.st_uid) + instead, side);
  }
  if ((st.st_mode & S_IWGRP) != 0) {
    return Result::refusal(shown + " may be written by group " + group_name(st.st_gid) + instead,
                           side);
  }
  if ((st.st_mode & S_IWOTH) != 0) {
    return Result::refusal(shown + " may be written by anyone" + instead, side);
  }
  if (type == kFuseMagic) {
    const long owner = fuse_owner(fd);
    if (owner != 0) {
      return Result::refusal(shown + " is on a mount of " +
                                 (owner < 0 ? std::string("another user") : user_name(owner)) +
                                 instead,
                             side);
    }
  }
  return {};
}

/// Opens `path` as a folder to start from, checked as every folder entered is; `device` is
/// the device it is on.
Result start_at(const char* path, const std::string& shown, Side side, Fd& folder, dev_t& device) {
  folder.reset(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (!folder || fstat(folder.get(), &st) != 0) {
    return errno_result(side);
  }
  device = st.st_dev;
  return check(folder.get(), st, ~st.st_dev, true, shown, side);
}

/// The names of `path` between the separators `separators`, with where each ends.
std::vector<std::pair<std::string_view, std::size_t>> names_of(std::string_view path,
                                                               const char* separators) {
  std::vector<std::pair<std::string_view, std::size_t>> names;
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find_first_of(separators, start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    if (end > start) {
      names.emplace_back(path.substr(start, end - start), end);
    }
    start = end + 1;
  }
  return names;
}

Result walk_from(Fd folder, dev_t device, std::string folder_shown, std::string_view path,
                 const std::string& prefix, bool written, Walk& walk, Place& place);

/// Finds the entry that `written_name` stands for in `folder` (on `device`): the exact name,
/// else, for a `written` name, the one that Windows would take (windows_names.hpp); gives its
/// `name` and status `st`. A `last` entry that is no link and on the folder's device is only
/// looked at: whoever uses it opens it by name and checks that it is that file. Every other
/// entry gets a handle in `entry`, so that what is checked is what is used next. False, with
/// errno set, where there is none.
bool find(const Fd& folder, dev_t device, std::string_view written_name, bool written, bool last,
          std::string& name, Fd& entry, struct stat& st) {
  const auto look = [&] {
    if (last) {
      if (fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
      }
      if (!S_ISLNK(st.st_mode) && st.st_dev == device) {
        return true;
      }
    }
    entry.reset(openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return entry && fstat(entry.get(), &st) == 0;
  };
  name = written_name;
  if (look()) {
    return true;
  }
  if (errno != ENOENT || !written) {
    return false;
  }
  name = find_entry(folder.get(), written_name);
  if (name == written_name) {
    errno = ENOENT;
    return false;
  }
  return look();
}

/// Follows the link `entry` (whose status is `st`) found in `folder` as `shown`.
Result follow_link(const Fd& folder, const Fd& entry, const struct stat& st,
                   const std::string& shown, Walk& walk, Place& through) {
  dev_t device = st.st_dev;  // a link is on its folder's device
  if (st.st_uid != geteuid() && st.st_uid != 0) {
    return Result::refusal("Not following " + shown + ": it is a link of " + user_name(st.st_uid) +
                               "'s; ask that user to replace it by the " +
                               "file or folder it links to",
                           walk.side);
  }
  if (++walk.links > kMaxLinks) {
    return Result::from_errno(ELOOP, walk.side);
  }
  char text[PATH_MAX];
  const ssize_t length = readlinkat(entry.get(), "", text, sizeof text);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof text) {
    return Result::from_errno(length < 0 ? errno : length == 0 ? ENOENT : ENAMETOOLONG, walk.side);
  }
  const std::string_view to(text, static_cast<std::size_t>(length));
  Fd from;
  if (to.front() == '/') {
    if (Result started = start_at("/", shown + " -> /", walk.side, from, device); !started.ok()) {
      return started;
    }
  } else {
    from.reset(fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    if (!from) {
      return errno_result(walk.side);
    }
  }
  return walk_from(std::move(from), device, shown, to, shown + " -> ", false, walk, through);
}

/// Resolves the names of `path` from `folder` (named `folder_shown`), each shown as `prefix`
/// and `path` up to its end; `written` names are looked up as Windows does.
Result walk_from(Fd folder, dev_t device, std::string folder_shown, std::string_view path,
                 const std::string& prefix, bool written, Walk& walk, Place& place) {
  const auto names = names_of(path, written ? "\\/" : "/");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const std::string shown = prefix + std::string(path.substr(0, names[i].second));
    std::string name;
    Fd entry;
    struct stat st;
    if (!find(folder, device, names[i].first, written, last, name, entry, st)) {
      if (errno != ENOENT || !last) {
        return errno_result(walk.side);
      }
      place = {std::move(folder), name, false, {}, shown, folder_shown};
      return {};
    }
    if (S_ISLNK(st.st_mode)) {
      Place through;
      if (Result followed = follow_link(folder, entry, st, shown, walk, through); !followed.ok()) {
        return followed;
      }
      if (!through.exists) {
        return last && walk.side == Side::target
                   ? Result::refusal("Not writing through a link to nothing")
                   : Result::from_errno(ENOENT, walk.side);
      }
      if (last) {
        place = std::move(through);
        return {};
      }
      entry.reset(openat(through.folder.get(), through.name.c_str(),
                         O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
      if (!entry || fstat(entry.get(), &st) != 0) {
        return errno_result(walk.side);
      }
    }
    if (last) {
      if (Result checked = check(entry.get(), st, device, false, shown, walk.side); !checked.ok()) {
        return checked;
      }
      place = {std::move(folder), name, true, st, shown, folder_shown};
      return {};
    }
    if (!S_ISDIR(st.st_mode)) {
      return Result::from_errno(ENOTDIR, walk.side);
    }
    if (Result checked = check(entry.get(), st, device, true, shown, walk.side); !checked.ok()) {
      return checked;
    }
    folder = std::move(entry);
    device = st.st_dev;
    folder_shown = shown;
  }
  // No name at all: the folder itself, as "." in it.
  struct stat st;
  if (fstat(folder.get(), &st) != 0) {
    return errno_result(walk.side);
  }
  place = {std::move(folder), ".", true, st, folder_shown, folder_shown};
  return {};
}

}  // namespace

Result walk(std::string_view written, Side side, Place& place) {
  Walk state{side};
  const bool absolute = !written.empty() && (written.front() == '\\' || written.front() == '/');
  const std::string shown = absolute ? std::string(1, written.front()) : "this folder";
  Fd start;
  dev_t device;
  if (Result started = start_at(absolute ? "/" : ".", shown, side, start, device); !started.ok()) {
    return started;
  }
  return walk_from(std::move(start), device, shown, written, "", true, state, place);
}

long file_system_type(int fd, dev_t device) {
  static dev_t g_device = 0;
  static long g_type = 0;
  if (major(device) != 0 && device == g_device) {
    return g_type;
  }
  struct statfs where;
  if (fstatfs(fd, &where) != 0) {
    return 0;
  }
  if (major(device) != 0) {
    g_device = device;
    g_type = where.f_type;
  }
  return where.f_type;
}

Fd open_folder_for_reading(const Place& place) {
  return Fd(openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace linux_shell
