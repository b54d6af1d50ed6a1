// The whole dialogue (menu, operations, console) run in this process against a recorder of its
// command lines, for every session case that runs on Linux: its input in, its transcript out,
// each command line where it runs. What the lines achieve is the session tests' to check.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "dialogue/console.hpp"
#include "dialogue/menu.hpp"
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
  console::read_answers_from(&in);
  int status = -1;
  const std::string written = Capture([&status] { status = menu::run(); }).out;
  console::read_answers_from(nullptr);
  EXPECT_EQ(written, Expand(c.transcript, [](const std::string& line, const std::string&) {
              return "{" + line + "}";
            }));
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(SessionCasesFor("linux")),
                         support::CaseName<SessionCase>);

// A typo in a transcript file is refused with its place, instead of hanging the tests that read
// the transcript while they are listed.
TEST(Transcripts, AMarkLeftOpenIsRefusedWithItsFileAndLine) {
  const std::string head = "platforms: both\nbefore: fresh\ninput: x\\n\n--\n{cls}Hello\n";
  for (const auto& [body, report] :
       {std::pair{"{pause\nBye\n", "Typo.txt:6: a mark { left open"},
        std::pair{"{pause}Bye{cls\n", "Typo.txt:6: a mark { left open"},
        std::pair{"Bye}\n", "Typo.txt:6: a } outside a mark"}}) {
    const std::string text = head + body;
    try {
      ParseCase({"Typo", text.c_str()});
      ADD_FAILURE() << body;
    } catch (const std::runtime_error& refusal) {
      EXPECT_STREQ(refusal.what(), report);
    }
  }
  EXPECT_THROW(Texts("Hello{pause"), std::runtime_error);
  EXPECT_THROW(Expand("Hello{pause", [](const std::string&, const std::string&) { return ""; }),
               std::runtime_error);
}

}  // namespace
