// Whole sessions of the built program, run as a player would: in a scratch game folder, with
// scripted input and standard output and standard error merged into one transcript. The expected
// texts are written out in the tests (here and in dialogue_texts.hpp), not taken from the program's
// sources.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue_texts.hpp"
#include "session.hpp"
#include "support/launch.hpp"

namespace session {

// What the POSIX layer shows: a form feed for cls where output is not a terminal, the pause's
// prompt, and the reports of md and copy.
const Shows kShows = {
    "",
    "\f",
    "Press any key to continue...\n",
    [](Md md) { return md == Md::kExisted ? kFolderExists : std::string(); },
    [](bool restore, int file, Copy copy) {
      const std::string source = restore ? std::string("Skulvane_Backups\\BACKUP_") + kNames[file]
                                         : std::string("System\\") + kNames[file];
      return copy == Copy::kDone ? kCopied
                                 : "Cannot copy " + source + ": No such file or directory\n";
    },
};

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

using namespace std::string_literals;

const Case kCases[] = {
    {"ExitUpper", Before::kFresh, "X\n", Transcript({}), kUntouched},
    {"ExitLowerWithoutLineFeed", Before::kFresh, "x", Transcript({}), kUntouched},
    {"EndOfInputAtMenu", Before::kFresh, "", Transcript({}), kUntouched},
    {"WhitespaceAndEmptyLinesSkipped", Before::kFresh, "\n \t\r\n\v\f  x  \n", Transcript({}),
     kUntouched},
    {"InvalidChoices", Before::kFresh, "11\n1a\nyes\n0\n5\n1.\nexit\nx\n",
     Transcript({kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid}),
     kUntouched},
    {"DigitFollowedByNul", Before::kFresh, "1\0\nx\n"s, Transcript({kInvalid}), kUntouched},
    {"OverlongWordIsOneWord", Before::kFresh, std::string(64, 'a') + "1\nx\n",
     Transcript({kInvalid}), kUntouched},

    {"BackupAllWithBlanks", Before::kFresh, " 1 \nx\n", Transcript({BackupAll(Md::kMade)}),
     kBackedUp},
};

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(kCases), CaseName);

TEST_F(Session, CommandLineArgumentsAreIgnored) {
  ExpectSession("1\nx\n", Transcript({BackupAll(Md::kMade)}), false, {"--help"});
  EXPECT_EQ(Disk(), kBackedUp);
}

TEST_F(Session, RestoreBringsBackWhatWasBackedUp) {
  ExpectSession("1\nx\n", Transcript({BackupAll(Md::kMade)}));
  WriteLive(kEdited);
  ExpectSession("3\ny\nx\n", Transcript({RestoreAll()}));
  EXPECT_EQ(Disk(), kBackedUp);
}

TEST_F(Session, NamesOnDiskMatchIgnoringCase) {
  fs::remove_all(game_ / "System");
  const std::array<const char*, 3> names = {"skaux.ini", "skulvaneuser.ini", "SKLOADOUTS.INI"};
  WriteLive(kLive, "system", names);
  support::WriteFile(game_ / "skulvane_backups/backup_skaux.ini", kOld[0]);

  ExpectSession("1\nx\n", Transcript({BackupAll(Md::kExisted)}));
  Tree expected = {{"skulvane_backups/", ""},
                   {"skulvane_backups/backup_skaux.ini", kLive[0]},
                   {"skulvane_backups/BACKUP_SkulvaneUser.ini", kLive[1]},
                   {"skulvane_backups/BACKUP_SkLoadouts.ini", kLive[2]}};
  expected["system/"] = "";
  for (int i = 0; i < 3; ++i) {
    expected["system/"s + names[i]] = kLive[i];
  }
  EXPECT_EQ(Disk(), expected);

  WriteLive(kEdited, "system", names);
  ExpectSession("4 y y y x\n", Transcript({RestoreEach(kAllDone)}));
  EXPECT_EQ(Disk(), expected);
}

}  // namespace
}  // namespace session
