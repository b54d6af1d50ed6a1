#include "shell/linux/path_walk.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "shell/linux/folder_writers.hpp"
#include "shell/linux/kept_folders.hpp"
#include "shell/linux/mounts.hpp"
#include "shell/linux/user_database.hpp"
#include "shell/linux/windows_names.hpp"

namespace linux_shell {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit

/// One walk's state: what it is for, the user the program runs as, how many links it has
/// followed.
struct Walk {
  Walking walking;
  uid_t user;
  int links = 0;
};

/// Where a walk is: the device, inode and mount of the folder reached, and who else may write a
/// folder on the way there from where the walk started or the last link it followed landed.
struct Here {
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t mount = 0;
  Writers writers;
};

/// For a run that stays root, refuses a folder (whose status is `st`) that anyone but root may
/// write; for any other run, notes in `here` who else may write it, unless a folder before it
/// was already written by others.
Result check_folder(int fd, const struct stat& st, const std::string& shown, const Walk& walk,
                    Here& here) {
  if (walk.user != 0) {
    if (here.writers.kind == Writers::Kind::none) {
      here.writers = folder_writers(fd, st, shown, walk.user);
    }
    return {};
  }
  const char* const instead = ": run sk-backup as a player, not as root";
  if (st.st_uid != 0) {
    return Result::refusal(shown + " belongs to " + user_name(st.st_uid) + instead);
  }
  if ((st.st_mode & S_IWOTH) != 0) {
    return Result::refusal(shown + " may be written by anyone" + instead);
  }
  if ((st.st_mode & S_IWGRP) != 0) {
    return Result::refusal(shown + " may be written by group " + group_name(st.st_gid) + instead);
  }
  return {};
}

/// Opens `path` as a folder to start from (or takes its kept handle), checked as every folder
/// entered is, and starts `here` there.
Result start_at(const char* path, const std::string& shown, const Walk& walk, Fd& folder,
                Here& here) {
  struct stat st;
  std::uint64_t mount;
  const FoundIn start{0, 0, path};
  const int kept = look_at(AT_FDCWD, path, st, mount).ok() ? kept_folder(start, st, mount) : -1;
  if (kept >= 0) {
    folder = Fd::lent(kept);
  } else {
    folder.reset(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (Result looked = folder ? look_at(folder.get(), "", st, mount) : errno_result();
        !looked.ok()) {
      return looked;
    }
  }
  if (Result checked = check_mount(mount, shown, walk.user); !checked.ok()) {
    return checked;
  }
  if (kept < 0) {
    keep_folder(folder, start, st, mount);
  }
  here = {st.st_dev, st.st_ino, mount, {}};
  return check_folder(folder.get(), st, shown, walk, here);
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

Result walk_from(Fd folder, Here& here, std::string folder_shown, std::string_view path,
                 const std::string& prefix, bool written, Walk& walk, Place& place);

/// Finds the entry that `written_name` stands for in `folder` (reached as `here`): the exact
/// name, else, for a `written` name, the one that Windows would take (windows_names.hpp); gives
/// its `name`, status `st` and `mount`. A `last` entry that is no link and on the folder's
/// mount is only looked at: whoever uses it opens it by name and checks that it is that file.
/// Every other entry gets a handle in `entry` (a kept one where the entry is that kept folder),
/// so that what is checked is what is used next. Fails (ENOENT) where there is none.
Result find(const Fd& folder, const Here& here, std::string_view written_name, bool written,
            bool last, std::string& name, Fd& entry, struct stat& st, std::uint64_t& mount) {
  const auto look = [&]() -> Result {
    if (last || any_folder_kept()) {
      if (Result looked = look_at(folder.get(), name.c_str(), st, mount); !looked.ok()) {
        return looked;
      }
      if (last && !S_ISLNK(st.st_mode) && st.st_dev == here.device && mount == here.mount) {
        return {};
      }
      if (const int kept =
              last ? -1 : kept_folder({here.device, here.inode, name.c_str()}, st, mount);
          kept >= 0) {
        entry = Fd::lent(kept);
        return {};
      }
    }
    entry.reset(openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return entry ? look_at(entry.get(), "", st, mount) : errno_result();
  };
  name = written_name;
  Result found = look();
  if (found.ok() || found.error() != ENOENT || !written) {
    return found;
  }
  name = find_entry(folder.get(), written_name);
  return name == written_name ? found : look();
}

/// Follows the link `entry` (whose status is `st`) found in `folder`, reached as `here`, as
/// `shown`; `here` becomes where the walk through it ends.
Result follow_link(const Fd& folder, const Fd& entry, const struct stat& st,
                   const std::string& shown, Here& here, Walk& walk, Place& through) {
  if (walk.user == 0) {
    return Result::refusal("not following " + shown +
                           ": a run as root follows no link; run sk-backup as the player "
                           "who plays the game, or replace the link by what it links to");
  }
  if (st.st_uid != walk.user && st.st_uid != 0) {
    return Result::refusal("not following " + shown + ": it is a link of " + user_name(st.st_uid) +
                           "'s; ask that user to replace it by the " +
                           "file or folder it links to");
  }
  if (here.writers.kind != Writers::Kind::none) {
    return Result::refusal("not following " + shown + ": " + could_have_put_it_there(here.writers) +
                           "; replace the link by the file it links to");
  }
  if (++walk.links > kMaxLinks) {
    return Result::from_errno(ELOOP);
  }
  char text[PATH_MAX];
  const ssize_t length = readlinkat(entry.get(), "", text, sizeof text);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof text) {
    return Result::from_errno(length < 0 ? errno : length == 0 ? ENOENT : ENAMETOOLONG);
  }
  const std::string_view to(text, static_cast<std::size_t>(length));
  Fd from;
  if (to.front() == '/') {
    if (Result started = start_at("/", shown + " -> /", walk, from, here); !started.ok()) {
      return started;
    }
  } else {
    from.reset(fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    if (!from) {
      return errno_result();
    }
  }
  return walk_from(std::move(from), here, shown, to, shown + " -> ", false, walk, through);
}

/// Refuses a file with other names (hard links) that someone else could have put where it is.
Result check_links(const struct stat& st, const Here& here, const std::string& shown,
                   const Walk& walk) {
  if (!S_ISREG(st.st_mode) || st.st_nlink <= 1) {
    return {};
  }
  const char* const instead = "; replace it by a copy that has no other name";
  if (st.st_uid != walk.user && st.st_uid != 0) {
    return Result::refusal("not using " + shown +
                           ": it has other names (hard links) and belongs to " +
                           user_name(st.st_uid) + instead);
  }
  if (here.writers.kind != Writers::Kind::none) {
    return Result::refusal("not using " + shown + ": it has other names (hard links), and " +
                           could_have_put_it_there(here.writers) + instead);
  }
  return {};
}

/// Resolves the names of `path` from `folder` (named `folder_shown`, reached as `here`), each
/// shown as `prefix` and `path` up to its end; `written` names are looked up as Windows does.
Result walk_from(Fd folder, Here& here, std::string folder_shown, std::string_view path,
                 const std::string& prefix, bool written, Walk& walk, Place& place) {
  const auto names = names_of(path, written ? "\\/" : "/");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const std::string shown = prefix + std::string(path.substr(0, names[i].second));
    std::string name;
    Fd entry;
    struct stat st;
    std::uint64_t mount = 0;
    if (Result found = find(folder, here, names[i].first, written, last, name, entry, st, mount);
        !found.ok()) {
      if (found.error() != ENOENT || !last) {
        return found;
      }
      place = {std::move(folder), name, false, {}, shown, folder_shown};
      return {};
    }
    if (mount != here.mount) {
      if (Result checked = check_mount(mount, shown, walk.user); !checked.ok()) {
        return checked;
      }
    }
    const bool through_link = S_ISLNK(st.st_mode);
    if (through_link) {
      Place through;
      Here landed = here;
      if (Result followed = follow_link(folder, entry, st, shown, landed, walk, through);
          !followed.ok()) {
        return followed;
      }
      if (!through.exists) {
        return last && walk.walking == Walking::to_write
                   ? Result::refusal("not writing through a link to nothing")
                   : Result::from_errno(ENOENT);
      }
      if (last) {
        place = std::move(through);
        return {};
      }
      entry.reset(openat(through.folder.get(), through.name.c_str(),
                         O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
      if (Result looked = entry ? look_at(entry.get(), "", st, mount) : errno_result();
          !looked.ok()) {
        return looked;
      }
      if (mount != landed.mount) {
        if (Result checked = check_mount(mount, shown, walk.user); !checked.ok()) {
          return checked;
        }
      }
      here = std::move(landed);
    }
    if (last) {
      if (Result checked = check_links(st, here, shown, walk); !checked.ok()) {
        return checked;
      }
      place = {std::move(folder), name, true, st, shown, folder_shown};
      return {};
    }
    if (!S_ISDIR(st.st_mode)) {
      return Result::from_errno(ENOTDIR);
    }
    if (Result checked = check_folder(entry.get(), st, shown, walk, here); !checked.ok()) {
      return checked;
    }
    if (!through_link) {
      keep_folder(entry, {here.device, here.inode, name.c_str()}, st, mount);
    }
    folder = std::move(entry);
    here.device = st.st_dev;
    here.inode = st.st_ino;
    here.mount = mount;
    folder_shown = shown;
  }
  // No name at all: the folder itself, as "." in it.
  struct stat st;
  std::uint64_t mount;
  if (Result looked = look_at(folder.get(), "", st, mount); !looked.ok()) {
    return looked;
  }
  place = {std::move(folder), ".", true, st, folder_shown, folder_shown};
  return {};
}

}  // namespace

Result walk(std::string_view written, Walking walking, Place& place) {
  Walk state{walking, geteuid()};
  const bool absolute = !written.empty() && (written.front() == '\\' || written.front() == '/');
  const std::string shown = absolute ? std::string(1, written.front()) : "this folder";
  Fd start;
  Here here;
  if (Result started = start_at(absolute ? "/" : ".", shown, state, start, here); !started.ok()) {
    return started;
  }
  Result walked = walk_from(std::move(start), here, shown, written, "", true, state, place);
  place.user = state.user;
  return walked;
}

Result flush_folder_of(const Place& place, int file) {
  Fd opened;
  bool kept = false;
  int readable = kept_readable(place.folder.get(), kept);
  if (!kept) {
    opened.reset(openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    readable = opened.get();
  }
  if (readable < 0 && file < 0) {
    return errno_result();
  }
  return flush_folder(readable, file);
}

}  // namespace linux_shell
