#include "shell/linux/user_database.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "shell/linux/files.hpp"

namespace linux_shell {

namespace {

/// The `index`th colon-separated field of `line`, or an empty view past its last field.
std::string_view field(std::string_view line, int index) {
  for (int i = 0; i < index; ++i) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      return {};
    }
    line.remove_prefix(colon + 1);
  }
  return line.substr(0, line.find(':'));
}

/// `text` as an id; false for anything but decimal digits that fit.
template <typename Id>
bool parse_id(std::string_view text, Id& id) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

/// Calls `take(line)` for each line of `file` that names an entry, as glibc reads it: a line
/// ends at its first NUL byte; after leading blanks, an empty line, a comment and a "+"/"-" line
/// of NIS name none. Stops where `take` returns true.
template <typename Take>
void each_line(const char* file, Take take) {
  std::string text;
  (void)read_file(file, text);  // a file that cannot be read holds no one
  for (std::string_view rest(text); !rest.empty();) {
    const std::size_t end = rest.find('\n');
    std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    entry = entry.substr(0, entry.find('\0'));
    const std::size_t start = entry.find_first_not_of(" \t\n\v\f\r");  // isspace()
    if (start == std::string_view::npos) {
      continue;
    }
    entry.remove_prefix(start);
    if (entry[0] != '#' && entry[0] != '+' && entry[0] != '-' && take(entry)) {
      return;
    }
  }
}

/// The members of a line of /etc/group as glibc takes them: the rest of the line after its
/// third colon, split at commas. `each(member)` is called for each until it returns true; true
/// where one did.
template <typename Each>
bool each_member(std::string_view line, Each each) {
  for (int i = 0; i < 3; ++i) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      return false;
    }
    line.remove_prefix(colon + 1);
  }
  while (!line.empty()) {
    const std::size_t comma = line.find(',');
    if (each(line.substr(0, comma))) {
      return true;
    }
    line = comma == std::string_view::npos ? std::string_view() : line.substr(comma + 1);
  }
  return false;
}

/// The name of entry `id` of `file` (id in field 2), else `kind` and the number ("user 1001"),
/// or the number alone for an empty `kind`.
std::string name_of(const char* file, unsigned long id, const std::string& kind) {
  std::string name = (kind.empty() ? "" : kind + " ") + std::to_string(id);
  each_line(file, [&](std::string_view line) {
    unsigned long found = 0;
    if (parse_id(field(line, 2), found) && found == id && !field(line, 0).empty()) {
      name = field(line, 0);
      return true;
    }
    return false;
  });
  return name;
}

}  // namespace

bool find_account(uid_t uid, Account& account, const char* passwd_file) {
  bool found = false;
  each_line(passwd_file, [&](std::string_view line) {
    uid_t id = 0;
    gid_t group = 0;
    if (parse_id(field(line, 2), id) && id == uid && parse_id(field(line, 3), group) &&
        !field(line, 0).empty()) {
      account = {std::string(field(line, 0)), group};
      found = true;
    }
    return found;
  });
  return found;
}

std::vector<gid_t> groups_of(const Account& account, const char* group_file) {
  std::vector<gid_t> groups{account.group};
  each_line(group_file, [&](std::string_view line) {
    gid_t id = 0;
    if (field(line, 0).empty() || !parse_id(field(line, 2), id) ||
        !each_member(line, [&](std::string_view member) { return member == account.name; })) {
      return false;
    }
    if (std::find(groups.begin(), groups.end(), id) == groups.end()) {
      groups.push_back(id);
    }
    return groups.size() == kMostGroups;
  });
  return groups;
}

bool is_private_group(uid_t uid, gid_t gid, const char* passwd_file, const char* group_file) {
  Account account;
  if (!find_account(uid, account, passwd_file) || account.group != gid) {
    return false;
  }
  bool named = false;
  bool shared = false;
  each_line(group_file, [&](std::string_view line) {
    gid_t id = 0;
    if (!parse_id(field(line, 2), id)) {
      shared = true;  // a line glibc may read otherwise: any group, with any members
    } else if (id == gid) {
      named = field(line, 0) == account.name;
      shared = !named ||
               each_member(line, [&](std::string_view member) { return member != account.name; });
    }
    return shared;
  });
  each_line(passwd_file, [&](std::string_view line) {
    gid_t group = 0;
    // A line whose group cannot be read may be an account of that group: it shares it.
    shared = shared || (field(line, 2) != std::to_string(uid) &&
                        (!parse_id(field(line, 3), group) || group == gid));
    return shared;
  });
  return named && !shared;
}

std::string user_name(uid_t uid) {
  return name_of("/etc/passwd", uid, "user");
}

std::string group_name(gid_t gid) {
  return name_of("/etc/group", gid, "");
}

std::string home_of(uid_t uid, const char* passwd_file) {
  std::string home;
  each_line(passwd_file, [&](std::string_view line) {
    uid_t id = 0;
    if (parse_id(field(line, 2), id) && id == uid) {
      home = field(line, 5);
      return true;
    }
    return false;
  });
  return home.starts_with('/') ? home : std::string();
}

}  // namespace linux_shell
