#include "console/linux/user_database.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>

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

/// Calls `take(line)` for each line of `file` that names an entry (not a comment, not a
/// "+"/"-" line of NIS) until it returns true.
template <typename Take>
void each_line(const char* file, Take take) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != '#' && line[0] != '+' && line[0] != '-' && take(line)) {
      return;
    }
  }
}

/// The name of entry `id` of `file` (id in field 2), else `kind` and the number ("user 1001"),
/// or the number alone for an empty `kind`.
std::string name_of(const char* file, unsigned long id, const std::string& kind) {
  std::string name = (kind.empty() ? "" : kind + " ") + std::to_string(id);
  each_line(file, [&](std::string_view line) {
    unsigned long found;
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
    uid_t id;
    gid_t group;
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
    gid_t id;
    if (!parse_id(field(line, 2), id)) {
      return false;
    }
    for (std::string_view members = field(line, 3); !members.empty();) {
      const std::size_t comma = members.find(',');
      if (members.substr(0, comma) == account.name &&
          std::find(groups.begin(), groups.end(), id) == groups.end()) {
        groups.push_back(id);
      }
      members = comma == std::string_view::npos ? std::string_view() : members.substr(comma + 1);
    }
    return false;
  });
  return groups;
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
    uid_t id;
    if (parse_id(field(line, 2), id) && id == uid) {
      home = field(line, 5);
      return true;
    }
    return false;
  });
  return home.starts_with('/') ? home : std::string();
}

}  // namespace linux_shell
