// Files and folders as the tests see them: read, written, and what a folder holds.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace support {

namespace fs = std::filesystem;

/// The bytes of `path`, or "" where it cannot be read. Read in blocks, whatever size the file
/// claims (a /proc file claims none), so that the kill trials' big files read fast even under
/// the sanitizers.
inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/// Writes `text` to `path`, making its folders first.
inline void WriteFile(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path());
  }
  std::ofstream(path, std::ios::binary) << text;
}

/// What a folder holds: each entry's path below it, a folder's ending in '/', with a file's
/// bytes (a link is read through), or "" for a folder.
using Tree = std::map<std::string, std::string>;

/// What to note of each entry besides its path.
enum class Detail {
  kContent,  ///< a file's bytes
  kStatus,   ///< kind, bits, owner, and for a file its inode, time and a hash of its bytes, so
             ///< that a replaced or touched file shows too (POSIX only)
};

inline Tree FolderTree(const fs::path& dir, Detail detail = Detail::kContent) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string path = entry.path().lexically_relative(dir).generic_string();
    std::error_code ignored;  // a link that leads nowhere, or round in a loop, is no folder
    const bool folder = entry.is_directory(ignored) && !entry.is_symlink(ignored);
    std::string& noted = tree[folder ? path + "/" : path];
    if (detail == Detail::kContent) {
      noted = folder ? "" : ReadFile(entry.path());
      continue;
    }
#ifndef _WIN32
    struct stat st;
    lstat(entry.path().c_str(), &st);
    noted = std::to_string(st.st_mode) + " owner " + std::to_string(st.st_uid) + ":" +
            std::to_string(st.st_gid);
    if (S_ISREG(st.st_mode)) {
      noted += " inode " + std::to_string(st.st_ino) + " time " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
               " content " + std::to_string(std::hash<std::string>{}(ReadFile(entry.path())));
    }
#endif
  }
  return tree;
}

/// The paths of `tree`.
inline std::set<std::string> Names(const Tree& tree) {
  std::set<std::string> names;
  for (const auto& [name, noted] : tree) {
    names.insert(name);
  }
  return names;
}

}  // namespace support
