// Whole sessions of the built program, run as a player would: in a scratch game folder, with
// scripted input and standard output and standard error merged into one transcript. The expected
// transcripts are the cases of tests/transcripts, never taken from the program's sources.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session.hpp"
#include "support/launch.hpp"

namespace session {

// What the Linux layer shows: a form feed for cls where output is not a terminal, the pause's
// prompt, and the reports of md and copy.
const std::string kFirstKey;

std::string Show(const std::string& line, const std::string& outcome) {
  if (line == "cls") {
    return "\f";
  }
  if (line == "pause") {
    return "Press any key to continue...\n";
  }
  if (outcome == "existed") {
    return "Folder Skulvane_Backups already exists.\n";
  }
  if (outcome == "no source") {  // "copy SOURCE TARGET"
    const std::string source = line.substr(5, line.find(' ', 5) - 5);
    return "Cannot copy " + source + ": No such file or directory; " +
           (source.starts_with("System")
                ? "the game has not made this file yet (it does when it first runs), so there is "
                  "nothing to back up\n"
                : "there is no backup of this file yet: back it up first (1 or 2 at the menu)\n");
  }
  return outcome == "done" ? "1 file copied.\n" : "";
}

Shown RunSession(const fs::path& game, const std::string& input, bool closed_input,
                 const std::vector<std::string>& args) {
  support::Launch launch;
  launch.folder = game;
  launch.input = input;
  launch.closed_input = closed_input;
  launch.args = args;
  launch.out = launch.err = game.parent_path() / "output";
  const int status = support::Finish(support::Start(launch));
  Shown run{support::ReadFile(launch.out), ""};
  if (status == -1) {
    run.trouble = "the program did not finish within 20 s";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    run.trouble = "wait status " + std::to_string(status);
  }
  return run;
}

namespace {

using support::SessionCaseNamed;

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(support::SessionCasesFor("linux")),
                         support::CaseName<SessionCase>);

TEST_F(Session, CommandLineArgumentsAreIgnored) {
  const SessionCase& c = SessionCaseNamed("BackupAllFresh");
  ExpectSession(c, false, {"--help"});
  EXPECT_EQ(Disk(), After(c));
}

}  // namespace
}  // namespace session
