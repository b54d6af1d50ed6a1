// Paths of this system taken apart and put together, as text: nothing here looks at the disk.
#pragma once

#include <string>

namespace console {

/// The folder part of `path`: "." where it has none, "/" for a name at the root.
inline std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

/// `folder` and `name` joined with one slash; an empty folder stands for the current one.
inline std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  std::string path = folder;
  if (path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

}  // namespace console
