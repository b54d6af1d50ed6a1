// The whole dialogue (menu, operations, console) run in this process against a recorder of its
// command lines, for every session case that runs on Linux: its input in, its transcript out,
// each command line where it runs. What the lines achieve is the session tests' to check.

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "console/console.hpp"
#include "menu.hpp"
#include "support/scratch_shell.hpp"
#include "support/transcripts.hpp"

namespace {

using namespace support;

void Record(const char* line) {
  std::fputs(("{" + std::string(line) + "}").c_str(), stdout);
  std::fflush(stdout);
}

class Dialogue : public ShellTest, public ::testing::WithParamInterface<SessionCase> {
 protected:
  static void SetUpTestSuite() {
    console::start(Record);
  }
};

TEST_P(Dialogue, WritesTheTranscriptAndRunsTheCommandLines) {
  const SessionCase& c = GetParam();
  std::istringstream in(c.input);
  std::streambuf* const saved = std::cin.rdbuf(in.rdbuf());
  std::cin.clear();
  int status = -1;
  const std::string written = Capture([&status] { status = menu::run(); }).out;
  std::cin.rdbuf(saved);
  std::cin.clear();
  EXPECT_EQ(written, Expand(c.transcript, [](const std::string& line, const std::string&) {
              return "{" + line + "}";
            }));
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(SessionCasesFor("linux")),
                         support::CaseName<SessionCase>);

}  // namespace
