#include "shell/linux/failure_advice.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "shell/linux/ascii_case.hpp"
#include "shell/linux/files.hpp"
#include "shell/linux/path_walk.hpp"
#include "shell/linux/user_database.hpp"

namespace linux_shell {

namespace {

enum class Advice {
  started_elsewhere,
  started_in_system,
  no_backup_yet,
  no_settings_file_yet,
  backup_folder_not_made,
  not_a_folder,
  read_only,
  unreadable,
  sudo_acts_as_owner,
  someone_elses_here,
  someone_elses_elsewhere,
  acting_as_owner,
  owner_unknown_here,
  owner_unknown_elsewhere,
  immutable,
  append_only,
  full_backup_kept,
  full_file_kept,
  full_nothing_made,
  read_only_drive
};

struct AdviceText {
  Advice advice;
  const char* text;
};

// The names filled in: {here} the folder the program works in; {what} what is in the way, as a
// player reads it, and {path} the same as a command typed in {here} takes it; {owner} its owner
// and {uid} the owner's number; {me} the user the run acts as, and {user} as chown takes it; {do}
// read or write; {bits} what chmod adds; {r} chown's -R for a folder.
constexpr AdviceText kAdvice[] = {
    {Advice::started_elsewhere,
     "sk-backup works in the folder it is started in, {here}, which holds no System folder: cd to "
     "the game's folder (the one that holds System) and start it there"},
    {Advice::started_in_system,
     "sk-backup was started inside the System folder, {here}: cd .. to the game's folder (the one "
     "that holds System) and start it there"},
    {Advice::no_backup_yet,
     "there is no backup of this file yet: back it up first (1 or 2 at the menu)"},
    {Advice::no_settings_file_yet,
     "the game has not made this file yet (it does when it first runs), so there is nothing to "
     "back up"},
    {Advice::backup_folder_not_made,
     "the folder Skulvane_Backups could not be made: the line about it above says why"},
    {Advice::not_a_folder,
     "{what} is a file, not a folder: rename it or move it away, then back up again"},
    {Advice::read_only, "{what} is read-only: make it writable with chmod {bits} {path}"},
    {Advice::unreadable, "{what} may not be read: make it readable with chmod u+r {path}"},
    {Advice::sudo_acts_as_owner,
     "{what} belongs to {owner}: start sk-backup with sudo (it then acts as {owner}, who owns "
     "this folder), or ask {owner} to let you {do} it"},
    {Advice::someone_elses_here,
     "{what} belongs to {owner}: give it to {me} with sudo chown {r}{user}: {path}, or ask "
     "{owner} to let {me} {do} it"},
    {Advice::someone_elses_elsewhere, "{what} belongs to {owner}: ask {owner} to let {me} {do} it"},
    {Advice::acting_as_owner,
     "sudo runs sk-backup as {me}, the owner of this folder, with {me}'s rights only"},
    {Advice::owner_unknown_here,
     "{what} belongs to user {uid}, who is not in /etc/passwd: if the card or drive comes from "
     "another machine, make it yours with sudo chown -R \"$USER\": . and start sk-backup again, "
     "without sudo; else run it as that user"},
    {Advice::owner_unknown_elsewhere,
     "{what} belongs to user {uid}, who is not in /etc/passwd: if the card or drive comes from "
     "another machine, make it yours with sudo chown \"$USER\": {path}"},
    {Advice::immutable,
     "{what} is marked immutable: lift that with sudo chattr -i {path}, then copy again"},
    {Advice::append_only,
     "{what} is marked append-only: lift that with sudo chattr -a {path}, then copy again"},
    {Advice::full_backup_kept,
     "the earlier backup of this file is unchanged: free some space and back up again"},
    {Advice::full_file_kept, "{what} is unchanged: free some space and copy it again"},
    {Advice::full_nothing_made, "nothing was written: free some space and copy it again"},
    {Advice::read_only_drive,
     "the drive is mounted read-only (a dual-boot NTFS drive is while Windows hibernates or "
     "keeps Fast Startup: shut Windows down fully, then mount it again)"},
};

bool g_acting_as_folder_owner = false;

/// What a piece of advice names.
struct Names {
  std::string here, what, path, owner, uid, me, user, act, bits, r;
};

std::string fill(Advice advice, const Names& names) {
  const char* text = "";
  for (const AdviceText& row : kAdvice) {
    text = row.advice == advice ? row.text : text;
  }
  const struct {
    const char* key;
    const std::string Names::*value;
  } keys[] = {{"{here}", &Names::here},   {"{what}", &Names::what}, {"{path}", &Names::path},
              {"{owner}", &Names::owner}, {"{uid}", &Names::uid},   {"{me}", &Names::me},
              {"{user}", &Names::user},   {"{do}", &Names::act},    {"{bits}", &Names::bits},
              {"{r}", &Names::r}};
  std::string filled;
  for (const char* at = text; *at != '\0';) {
    const auto key = std::find_if(std::begin(keys), std::end(keys), [at](const auto& k) {
      return std::strncmp(at, k.key, std::strlen(k.key)) == 0;
    });
    if (key == std::end(keys)) {
      filled += *at++;
    } else {
      filled += names.*key->value;
      at += std::strlen(key->key);
    }
  }
  return filled;
}

/// Where the handle `fd` leads, from the root; empty where /proc cannot tell.
std::string path_of(int fd) {
  char path[PATH_MAX];
  const ssize_t length = readlink(proc_path(fd).text, path, sizeof path);
  return length > 0 && static_cast<std::size_t>(length) < sizeof path
             ? std::string(path, static_cast<std::size_t>(length))
             : std::string();
}

/// `path` as typed into a shell: quoted where it holds anything but plain characters.
std::string for_shell(const std::string& path) {
  if (path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                             "_./+,:@%=-") == std::string::npos) {
    return path;
  }
  std::string quoted = "'";
  for (const char c : path) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

/// Fills `what` and `path` of `names` for the file or folder at `absolute`; true where it is
/// the current folder or inside it.
bool name_it(const std::string& absolute, Names& names) {
  std::string prefix = names.here;
  if (!prefix.ends_with('/')) {
    prefix.push_back('/');
  }
  if (absolute == names.here) {
    names.what = names.here;
    names.path.assign(1, '.');
    return true;
  }
  const bool inside = absolute.starts_with(prefix);
  names.what = inside ? absolute.substr(prefix.size()) : absolute;
  names.path = for_shell(names.what);
  return inside;
}

/// What the operand of `side` is resolved for.
Walking walking_for(Side side) {
  return side == Side::source ? Walking::to_read : Walking::to_write;
}

/// The advice for a name of the game's that is not there.
bool not_there(std::string_view first, Side side, Advice& advice, const Names& names) {
  const bool backups = equal_ignoring_ascii_case(first, "Skulvane_Backups");
  if (!backups && !equal_ignoring_ascii_case(first, "System")) {
    return false;
  }
  Place system;
  if (!walk("System", Walking::to_read, system).ok() || !system.exists ||
      !S_ISDIR(system.st.st_mode)) {
    const std::size_t slash = names.here.rfind('/');
    advice = equal_ignoring_ascii_case(names.here.substr(slash + 1), "System")
                 ? Advice::started_in_system
                 : Advice::started_elsewhere;
  } else if (backups) {
    advice = side == Side::source ? Advice::no_backup_yet : Advice::backup_folder_not_made;
  } else {
    advice = Advice::no_settings_file_yet;
    return side == Side::source;
  }
  return true;
}

/// The advice for what may not be read or written: the folder that takes no new file, else the
/// entry itself.
bool refused(std::string_view written, Side side, int error, Advice& advice, Names& names) {
  Place place;
  if (!walk(written, walking_for(side), place).ok()) {
    return false;
  }
  const int folder = place.folder.get();
  const auto look = [&](bool at_folder, struct statx& st) {
    return statx(folder, at_folder ? "" : place.name.c_str(),
                 AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | (at_folder ? AT_EMPTY_PATH : 0),
                 STATX_UID | STATX_MODE, &st) == 0;
  };
  const auto marked = [](const struct statx& st) {
    return st.stx_attributes & st.stx_attributes_mask & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND);
  };
  struct statx st;
  // A file marked by chattr is in the way before its folder; else, for a target, a folder that
  // takes no new file.
  bool the_folder = !place.exists || (side == Side::target && error == EACCES &&
                                      faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0);
  if (!look(the_folder, st)) {
    return false;
  }
  if (error == EPERM && !the_folder && marked(st) == 0) {
    the_folder = look(true, st);
  }
  std::string path = path_of(folder);
  if (path.empty()) {
    return false;
  }
  if (!the_folder) {
    path.append(path.ends_with('/') ? "" : "/").append(place.name);
  }
  const bool inside = name_it(path, names);
  if (error == EPERM) {
    advice = (marked(st) & STATX_ATTR_IMMUTABLE) != 0 ? Advice::immutable : Advice::append_only;
    return marked(st) != 0;
  }
  Account account;
  struct stat here;
  names.owner = user_name(st.stx_uid);
  names.uid = std::to_string(st.stx_uid);
  names.act = side == Side::source ? "read" : "write";
  names.bits = the_folder ? "u+rwx" : "u+rw";
  names.r = the_folder ? "-R " : "";
  if (!find_account(st.stx_uid, account)) {
    advice = inside ? Advice::owner_unknown_here : Advice::owner_unknown_elsewhere;
  } else if (st.stx_uid == geteuid()) {
    advice = side == Side::source ? Advice::unreadable : Advice::read_only;
  } else if (!g_acting_as_folder_owner && stat(".", &here) == 0 && here.st_uid == st.stx_uid) {
    advice = Advice::sudo_acts_as_owner;
  } else {
    advice = inside ? Advice::someone_elses_here : Advice::someone_elses_elsewhere;
  }
  return true;
}

}  // namespace

std::string advice_for(std::string_view written, bool folder, const Result& result) {
  const std::string_view reason = std::strerror(result.error());
  if (result.error() == 0 || !std::string_view(result.text()).ends_with(reason)) {
    return {};
  }
  const Side side = folder ? Side::target : result.side();
  const std::string_view first = written.substr(0, written.find_first_of("\\/"));
  Names names;
  char here[PATH_MAX];
  names.here = getcwd(here, sizeof here) != nullptr ? here : ".";
  names.me = user_name(geteuid());
  Account account;
  names.user = find_account(geteuid(), account) ? account.name : std::to_string(geteuid());
  Advice advice{};
  bool given = false;
  switch (result.error()) {
    case ENOENT:
      given = not_there(first, side, advice, names);
      break;
    case ENOTDIR:
    case EEXIST: {
      Place place;
      given =
          walk(first, walking_for(side), place).ok() && place.exists && !S_ISDIR(place.st.st_mode);
      names.what = place.name;
      advice = Advice::not_a_folder;
      break;
    }
    case EACCES:
    case EPERM: {
      given = refused(written, side, result.error(), advice, names);
      if (g_acting_as_folder_owner) {
        return "; " + fill(Advice::acting_as_owner, names) +
               (given ? "; " + fill(advice, names) : "");
      }
      break;
    }
    case ENOSPC:
    case EDQUOT: {
      Place place;
      given = side == Side::target && walk(written, walking_for(side), place).ok();
      names.what = std::string(written);
      advice = !place.exists                                          ? Advice::full_nothing_made
               : equal_ignoring_ascii_case(first, "Skulvane_Backups") ? Advice::full_backup_kept
                                                                      : Advice::full_file_kept;
      break;
    }
    case EROFS:
      given = true;
      advice = Advice::read_only_drive;
      break;
    default:
      break;
  }
  return given ? "; " + fill(advice, names) : std::string();
}

void note_acting_as_folder_owner() {
  g_acting_as_folder_owner = true;
}

std::string owner_unknown_advice(uid_t uid) {
  Names names;
  names.what = "this folder";
  names.uid = std::to_string(uid);
  return fill(Advice::owner_unknown_here, names);
}

}  // namespace linux_shell
