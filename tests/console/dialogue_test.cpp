// The whole dialogue (menu, operations, console) run in this process against a recorder of its
// command lines, for every session case that runs on Linux: its input in, its transcript out,
// each command line where it runs. What the lines achieve is the session tests' to check.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "console/console.hpp"
#include "menu.hpp"
#include "support/files.hpp"
#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace {

using namespace support;

void Record(const char* line) {
  std::fputs(("{" + std::string(line) + "}").c_str(), stdout);
  std::fflush(stdout);
}

class Dialogue : public ScratchTest, public ::testing::WithParamInterface<SessionCase> {
 protected:
  static void SetUpTestSuite() {
    console::start(Record);
  }

  /// Runs the menu with `input` as standard input; gives what it wrote and its exit status.
  std::string Run(const std::string& input, int& status) {
    std::istringstream in(input);
    std::streambuf* const saved_in = std::cin.rdbuf(in.rdbuf());
    std::cin.clear();
    const fs::path out_path = root_ / "out";
    std::fflush(stdout);
    const int saved_out = dup(STDOUT_FILENO);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    status = menu::run();
    std::fflush(stdout);
    dup2(saved_out, STDOUT_FILENO);
    close(out);
    close(saved_out);
    std::cin.rdbuf(saved_in);
    std::cin.clear();
    return ReadFile(out_path);
  }
};

TEST_P(Dialogue, WritesTheTranscriptAndRunsTheCommandLines) {
  const SessionCase& c = GetParam();
  int status = -1;
  const std::string written = Run(c.input, status);
  EXPECT_EQ(written, Expand(c.transcript, [](const std::string& line, const std::string&) {
              return "{" + line + "}";
            }));
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(SessionCasesFor("linux")),
                         support::CaseName<SessionCase>);

}  // namespace
