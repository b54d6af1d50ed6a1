// Whether a test's setup could be made here (POSIX): a file handed to another user, an attribute
// set, a flag kept. A step that did not happen is noted with its reason, so that the row that
// needed it is skipped saying why, and never fails or passes for a reason other than its own.
// A table test keeps the rows it ran and those it skipped, and reports both.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace support {

/// The setup steps of the running test that did not happen, each with its reason.
inline std::vector<std::string>& UnmadeSetup() {
  static std::vector<std::string> steps;
  return steps;
}

/// Notes that `step` did not happen, for the reason errno gives; returns false.
inline bool NoteUnmade(const std::string& step) {
  UnmadeSetup().push_back(step + " (" + std::strerror(errno) + ")");
  return false;
}

/// lchown(path, uid, gid) (a link itself, not what it leads to), noted when it did not happen:
/// only root may give a file to another user.
inline bool HandTo(const std::filesystem::path& path, uid_t uid, gid_t gid) {
  return lchown(path.c_str(), uid, gid) == 0 ||
         NoteUnmade("could not hand " + path.string() + " to " + std::to_string(uid) + ":" +
                    std::to_string(gid));
}

/// Whether this process may run as another user (setuid in a child): root may.
inline bool MayRunAsAnotherUser() {
  return geteuid() == 0;
}

/// The steps noted since the last call, as one line ("" when every step happened).
inline std::string TakeUnmadeSetup() {
  std::string line;
  for (const std::string& step : UnmadeSetup()) {
    line += (line.empty() ? "" : "; ") + step;
  }
  UnmadeSetup().clear();
  return line;
}

/// The rows of a table test that ran, and those skipped with the reason.
class Rows {
 public:
  void Ran(const std::string& row) {
    ran_.push_back(row);
  }
  void Skipped(const std::string& row, const std::string& why) {
    skipped_.push_back(row + " (" + why + ")");
  }
  bool AnySkipped() const {
    return !skipped_.empty();
  }
  /// "ran 2 rows: a, b; skipped 1: c (why)".
  std::string Report() const {
    return "ran " + std::to_string(ran_.size()) + " rows: " + Join(ran_) + "; skipped " +
           std::to_string(skipped_.size()) + ": " + Join(skipped_);
  }

 private:
  static std::string Join(const std::vector<std::string>& rows) {
    std::string line;
    for (const std::string& row : rows) {
      line += (line.empty() ? "" : ", ") + row;
    }
    return line.empty() ? "none" : line;
  }

  std::vector<std::string> ran_;
  std::vector<std::string> skipped_;
};

}  // namespace support
