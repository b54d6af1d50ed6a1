// A scratch folder to run command lines in, with what they write caught: shared by the tests
// of the POSIX command layer and its rooms.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "console/shell.hpp"

namespace scratch {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

/// Every name in the scratch tree, so that a left-over temporary file shows.
inline std::set<std::string> tree() {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(".")) {
    names.insert(entry.path().lexically_relative(".").string());
  }
  return names;
}

struct Output {
  std::string out;
  std::string err;
};

class ShellTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sk-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(scratch_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(scratch_);
  }

  /// Runs `line` with standard output and error caught in files beside the scratch folder.
  /// With `prepare`, in a child process that calls it first (to change its user or limits),
  /// with nothing open but the standard streams; a child that fails to prepare writes nothing.
  Output run(const char* line, bool (*prepare)() = nullptr) {
    const std::string out_path = scratch_.string() + ".out";
    const std::string err_path = scratch_.string() + ".err";
    std::fflush(stdout);
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    const int out = open(out_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    if (prepare == nullptr) {
      console::run_command(line);
    } else if (const pid_t pid = fork(); pid == 0) {
      close_range(3, ~0u, 0);
      if (prepare()) {
        console::run_command(line);
      }
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
    Output output{read_file(out_path), read_file(err_path)};
    fs::remove(out_path);
    fs::remove(err_path);
    return output;
  }

  fs::path scratch_;
  fs::path previous_;
};

}  // namespace scratch
