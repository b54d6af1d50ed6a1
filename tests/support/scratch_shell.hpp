// A scratch folder to run command lines in, with what they write caught: shared by the tests
// of the Linux command layer and of each of its parts.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "shell/shell.hpp"
#include "support/files.hpp"
#include "support/scratch.hpp"

namespace support {

namespace fs = std::filesystem;

/// Every path in the scratch folder, a folder's ending in '/', so that a left-over temporary
/// file shows.
inline std::set<std::string> Names() {
  return support::Names(FolderTree(".", Detail::kStatus));
}

struct Output {
  std::string out;
  std::string err;
};

/// Runs command lines in the scratch folder, its current folder meanwhile.
class ShellTest : public support::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    previous_ = fs::current_path();
    fs::current_path(root_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    ScratchTest::TearDown();
  }

  /// Runs `line` with standard output and error caught in files beside the scratch folder.
  /// With `prepare`, in a child process that calls it first (to change its user or limits),
  /// with nothing open but the standard streams; a child that fails to prepare writes nothing.
  Output RunLine(const char* line, bool (*prepare)() = nullptr) {
    return Capture([line] { shell::run_command(line); }, prepare);
  }

  /// Runs `run` as RunLine() runs a line.
  Output Capture(const std::function<void()>& run, bool (*prepare)() = nullptr) {
    const std::string out_path = root_.string() + ".out";
    const std::string err_path = root_.string() + ".err";
    std::fflush(stdout);
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    const int out = open(out_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    if (prepare == nullptr) {
      run();
      std::fflush(stdout);  // a report may wait in the buffer for the dialogue's next text
    } else if (const pid_t pid = fork(); pid == 0) {
      close_range(3, ~0u, 0);
      if (prepare()) {
        run();
      }
      std::fflush(stdout);
      _exit(0);
    } else {
      waitpid(pid, nullptr, 0);
    }
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(out);
    close(err);
    close(saved_out);
    close(saved_err);
    Output output{ReadFile(out_path), ReadFile(err_path)};
    fs::remove(out_path);
    fs::remove(err_path);
    return output;
  }

  fs::path previous_;
};

}  // namespace support
