// One session of the program as the session tests (POSIX and Windows) describe it: how the scratch
// game folder is laid out before the run, the input, the transcript expected, and the folder's
// files expected after it.
#pragma once

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>

#include "dialogue_texts.hpp"

namespace session {

/// A folder's entries: relative path -> contents; folders end in '/' and hold "".
using Tree = std::map<std::string, std::string>;
/// What each of the three settings files holds, in the order of texts::kNames; nullptr: no such
/// file.
using Contents = std::array<const char*, 3>;

/// Writes `text` to `path`, creating its folders first.
inline void SaveFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

/// The contents of `path`, or "" where it cannot be read.
inline std::string LoadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// A game folder: System with the `live` files, and Skulvane_Backups with the `backup` copies
/// where `folder`.
inline Tree Layout(const Contents& live, bool folder, const Contents& backup) {
  using namespace std::string_literals;
  Tree tree = {{"System/", ""}};
  if (folder) {
    tree["Skulvane_Backups/"] = "";
  }
  for (int i = 0; i < 3; ++i) {
    if (live[i] != nullptr) {
      tree["System/"s + texts::kNames[i]] = live[i];
    }
    if (backup[i] != nullptr) {
      tree["Skulvane_Backups/BACKUP_"s + texts::kNames[i]] = backup[i];
    }
  }
  return tree;
}

/// Everything below `dir` as it is on disk, names as they are stored.
inline Tree FolderTree(const std::filesystem::path& dir) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string rel = entry.path().lexically_relative(dir).generic_string();
    if (entry.is_directory()) {
      tree[rel + "/"] = "";
    } else {
      tree[rel] = LoadFile(entry.path());
    }
  }
  return tree;
}

/// How a game folder that holds all three live files differs before the run.
enum class Setup { kFresh, kOldBackup, kNoKeybinds };

/// Lays out `game` for `setup`: a backup of the files `old`, or no keybinds file.
inline void Prepare(const std::filesystem::path& game, Setup setup, const Contents& old) {
  using namespace std::string_literals;
  if (setup == Setup::kOldBackup) {
    for (int i = 0; i < 3; ++i) {
      SaveFile(game / "Skulvane_Backups" / ("BACKUP_"s + texts::kNames[i]), old[i]);
    }
  } else if (setup == Setup::kNoKeybinds) {
    std::filesystem::remove(game / "System" / texts::kNames[1]);
  }
}

struct Case {
  const char* name;
  Setup setup;
  std::string input;  // on Windows its first byte goes to the pause at start-up
  std::string transcript;
  Tree disk;
};

inline void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

}  // namespace session
