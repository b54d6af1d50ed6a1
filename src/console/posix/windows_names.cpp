#include "console/posix/windows_names.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "console/ascii_case.hpp"
#include "console/posix/paths.hpp"

namespace console {

namespace {

/// The entry of `folder` that `name` stands for, as the header states.
std::string find_in_folder(const std::string& folder, const std::string& name) {
  struct stat st;
  if (name == "." || name == ".." || lstat(join(folder, name).c_str(), &st) == 0 ||
      errno != ENOENT) {
    return name;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    return name;
  }
  std::string found = name;
  while (const dirent* entry = readdir(dir)) {
    if (equal_ignoring_ascii_case(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::string resolve_path(std::string_view written) {
  std::string path;
  if (!written.empty() && (written.front() == '\\' || written.front() == '/')) {
    path.push_back('/');
  }
  std::size_t start = 0;
  while (start < written.size()) {
    std::size_t end = written.find_first_of("\\/", start);
    if (end == std::string_view::npos) {
      end = written.size();
    }
    if (end > start) {
      path = join(path, find_in_folder(path, std::string(written.substr(start, end - start))));
    }
    start = end + 1;
  }
  return path;
}

}  // namespace console
