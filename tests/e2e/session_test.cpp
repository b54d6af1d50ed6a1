// Whole sessions of the built program, run as a player would: in a scratch game folder, with
// scripted input and standard output and standard error merged into one transcript. The expected
// texts are written out in the tests (here and in dialogue_texts.hpp), not taken from the program's
// sources.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dialogue_texts.hpp"
#include "session_case.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace texts;
using namespace session;
using PerFile = std::array<std::string, 3>;  // SkAux.ini, SkulvaneUser.ini, SkLoadouts.ini

const std::string kClear = "\f";
const std::string kPause = "Press any key to continue...\n";
// What the POSIX layer writes for md and copy.
const std::string kFolderExists = "Folder Skulvane_Backups already exists.\n";
const std::string kCopied = "1 file copied.\n";
const std::string kNoKeybindsReport =
    "Cannot copy System\\SkulvaneUser.ini: No such file or directory\n";
const PerFile kNoBackup = {
    "Cannot copy Skulvane_Backups\\BACKUP_SkAux.ini: No such file or directory\n",
    "Cannot copy Skulvane_Backups\\BACKUP_SkulvaneUser.ini: No such file or directory\n",
    "Cannot copy Skulvane_Backups\\BACKUP_SkLoadouts.ini: No such file or directory\n"};
const PerFile kAllCopied = {kCopied, kCopied, kCopied};
const PerFile kNothing = {};  // an empty report marks a file answered no

// The disclaimer, one menu cycle per body, and the closing cycle (X or end of input).
std::string Transcript(std::initializer_list<std::string> bodies) {
  std::string out = kClear + kDisclaimer + kPause;
  for (const std::string& body : bodies) {
    out += kClear + kMenu + body + kPause;
  }
  return out + kClear + kMenu + kPause;
}

std::string BackupAll(const std::string& md_report, const PerFile& report) {
  std::string out = kClear + kMakeFolder + md_report;
  for (int i = 0; i < 3; ++i) {
    out += kBackupAllMsg[i] + report[i];
  }
  return out + kBackupDone;
}

std::string BackupEach(const std::string& md_report, const PerFile& report) {
  std::string out = kClear + kMakeFolder + md_report;
  for (int i = 0; i < 3; ++i) {
    out += kBackupAsk[i] + (report[i].empty() ? "" : kBackupEachMsg[i] + report[i]);
  }
  return out + kBackupDone;
}

std::string RestoreAll(const PerFile& report) {
  std::string out = kClear + kRestoreAllAsk;
  for (int i = 0; i < 3; ++i) {
    out += kRestoreAllMsg[i] + report[i];
  }
  return out + kRestoreAllDone;
}
const std::string kRestoreAllNo = kClear + kRestoreAllAsk;

std::string RestoreEach(const PerFile& report) {
  std::string out = kClear;
  for (int i = 0; i < 3; ++i) {
    out += kRestoreAsk[i] + (report[i].empty() ? "" : kRestoreEachMsg[i] + report[i]);
  }
  return out + kRestoreEachDone;
}

// Settings as the game left them, as an older backup holds them, and after the player edited them.
const Contents kLive = {"[Video]\nResX=1920\n", "[Keys]\nFire=Mouse1\n",
                        "[Loadout]\nSlot1=Rifle\n"};
const Contents kOld = {"[Video]\nResX=640\n", "[Keys]\nFire=Space\n", "[Loadout]\nSlot1=Pistol\n"};
const Contents kEdited = {"ResX=800\n", "Fire=Enter\n", "Slot1=Knife\n"};
const Contents kNone = {};

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "sk-session-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    game_ = root_ / "game";
    WriteLive("System", kNames, kLive);
  }

  void TearDown() override {
    fs::remove_all(root_);
  }

  void WriteLive(const fs::path& dir, const std::array<const char*, 3>& names,
                 const Contents& contents) {
    for (int i = 0; i < 3; ++i) {
      SaveFile(game_ / dir / names[i], contents[i]);
    }
  }

  // Runs the program in the game folder and checks its transcript and exit status; a run that
  // takes over ten seconds is killed.
  void ExpectSession(const std::string& input, const std::string& transcript,
                     std::vector<std::string> args = {}) {
    SaveFile(root_ / "input", input);
    const std::string in = (root_ / "input").string();
    const std::string out = (root_ / "output").string();
    const std::string dir = game_.string();
    std::vector<char*> argv = {const_cast<char*>(SK_BACKUP_EXE)};
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
      const int fd_in = open(in.c_str(), O_RDONLY | O_CLOEXEC);
      const int fd_out = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd_in < 0 || fd_out < 0 || dup2(fd_in, 0) < 0 || dup2(fd_out, 1) < 0 ||
          dup2(fd_out, 2) < 0 || chdir(dir.c_str()) != 0) {
        _exit(126);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    ASSERT_GT(pid, 0) << "fork failed";
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the program did not finish within 10 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(LoadFile(out), transcript);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  }

  Tree Disk() const {
    return FolderTree(game_);
  }

  fs::path root_;
  fs::path game_;
};

class Dialogue : public Session, public ::testing::WithParamInterface<Case> {};

TEST_P(Dialogue, TranscriptAndFiles) {
  const Case& c = GetParam();
  Prepare(game_, c.setup, kOld);
  ExpectSession(c.input, c.transcript);
  EXPECT_EQ(Disk(), c.disk);
}

const Tree kUntouched = Layout(kLive, false, kNone);
const Tree kUntouchedOld = Layout(kLive, true, kOld);
const Tree kBackedUp = Layout(kLive, true, kLive);

const Case kCases[] = {
    {"ExitUpper", Setup::kFresh, "X\n", Transcript({}), kUntouched},
    {"ExitLowerWithoutLineFeed", Setup::kFresh, "x", Transcript({}), kUntouched},
    {"EndOfInputAtMenu", Setup::kFresh, "", Transcript({}), kUntouched},
    {"WhitespaceAndEmptyLinesSkipped", Setup::kFresh, "\n \t\r\n\v\f  x  \n", Transcript({}),
     kUntouched},
    {"InvalidChoices", Setup::kFresh, "11\n1a\nyes\n0\n5\n1.\nexit\nx\n",
     Transcript({kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid}),
     kUntouched},
    {"DigitFollowedByNul", Setup::kFresh, "1\0\nx\n"s, Transcript({kInvalid}), kUntouched},
    {"OverlongWordIsOneWord", Setup::kFresh, std::string(64, 'a') + "1\nx\n",
     Transcript({kInvalid}), kUntouched},

    {"BackupAll", Setup::kFresh, " 1 \nx\n", Transcript({BackupAll("", kAllCopied)}), kBackedUp},
    {"BackupAllOverOldBackup", Setup::kOldBackup, "1 x",
     Transcript({BackupAll(kFolderExists, kAllCopied)}), kBackedUp},
    {"BackupAllWithMissingLiveFile", Setup::kNoKeybinds, "1\nx\n",
     Transcript({BackupAll("", {kCopied, kNoKeybindsReport, kCopied})}),
     Layout({kLive[0], nullptr, kLive[2]}, true, {kLive[0], nullptr, kLive[2]})},
    {"BackupEachMixedAnswers", Setup::kFresh, "2\ny\nyes\nY\nx\n",
     Transcript({BackupEach("", {kCopied, "", kCopied})}),
     Layout(kLive, true, {kLive[0], nullptr, kLive[2]})},
    {"BackupEachAllNoTypedAhead", Setup::kFresh, "2 n n n x\n",
     Transcript({BackupEach("", kNothing)}), Layout(kLive, true, kNone)},
    {"BackupEachOverOldBackup", Setup::kOldBackup, "2 n y n x\n",
     Transcript({BackupEach(kFolderExists, {"", kCopied, ""})}),
     Layout(kLive, true, {kOld[0], kLive[1], kOld[2]})},
    {"BackupEachEndOfInputInQuestions", Setup::kFresh, "2\ny\n",
     Transcript({BackupEach("", {kCopied, "", ""})}),
     Layout(kLive, true, {kLive[0], nullptr, nullptr})},

    {"RestoreAll", Setup::kOldBackup, "3\ny\nx\n", Transcript({RestoreAll(kAllCopied)}),
     Layout(kOld, true, kOld)},
    {"RestoreAllAnsweredNo", Setup::kOldBackup, "3\nx\n3 n\n3\nyes\n3\nY.\nx\n",
     Transcript({kRestoreAllNo, kRestoreAllNo, kRestoreAllNo, kRestoreAllNo}), kUntouchedOld},
    {"RestoreAllEndOfInputInQuestion", Setup::kOldBackup, "3\n", Transcript({kRestoreAllNo}),
     kUntouchedOld},
    {"RestoreAllBeforeAnyBackup", Setup::kFresh, "3\ny\nx\n", Transcript({RestoreAll(kNoBackup)}),
     kUntouched},
    {"RestoreEachTypedAhead", Setup::kOldBackup, "4 y x Y\nx\n",
     Transcript({RestoreEach({kCopied, "", kCopied})}),
     Layout({kOld[0], kLive[1], kOld[2]}, true, kOld)},
    {"RestoreEachBeforeAnyBackup", Setup::kFresh, "4\nn\ny\nn\nx\n",
     Transcript({RestoreEach({"", kNoBackup[1], ""})}), kUntouched},
    {"RestoreEachEndOfInputInQuestions", Setup::kOldBackup, "4",
     Transcript({RestoreEach(kNothing)}), kUntouchedOld},
    {"SeveralOperationsInOneRun", Setup::kFresh, "1\n3\nn\n4 n n y\nx\n",
     Transcript({BackupAll("", kAllCopied), kRestoreAllNo, RestoreEach({"", "", kCopied})}),
     kBackedUp},
};

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(Session, CommandLineArgumentsAreIgnored) {
  ExpectSession("1\nx\n", Transcript({BackupAll("", kAllCopied)}), {"--help"});
  EXPECT_EQ(Disk(), kBackedUp);
}

TEST_F(Session, RestoreBringsBackWhatWasBackedUp) {
  ExpectSession("1\nx\n", Transcript({BackupAll("", kAllCopied)}));
  WriteLive("System", kNames, kEdited);
  ExpectSession("3\ny\nx\n", Transcript({RestoreAll(kAllCopied)}));
  EXPECT_EQ(Disk(), kBackedUp);
}

TEST_F(Session, NamesOnDiskMatchIgnoringCase) {
  fs::remove_all(game_ / "System");
  const std::array<const char*, 3> names = {"skaux.ini", "skulvaneuser.ini", "SKLOADOUTS.INI"};
  WriteLive("system", names, kLive);
  SaveFile(game_ / "skulvane_backups/backup_skaux.ini", kOld[0]);

  ExpectSession("1\nx\n", Transcript({BackupAll(kFolderExists, kAllCopied)}));
  Tree expected = {{"skulvane_backups/", ""},
                   {"skulvane_backups/backup_skaux.ini", kLive[0]},
                   {"skulvane_backups/BACKUP_SkulvaneUser.ini", kLive[1]},
                   {"skulvane_backups/BACKUP_SkLoadouts.ini", kLive[2]}};
  expected["system/"] = "";
  for (int i = 0; i < 3; ++i) {
    expected["system/"s + names[i]] = kLive[i];
  }
  EXPECT_EQ(Disk(), expected);

  WriteLive("system", names, kEdited);
  ExpectSession("4 y y y x\n", Transcript({RestoreEach(kAllCopied)}));
  EXPECT_EQ(Disk(), expected);
}

}  // namespace
