// The built program run as a player would, with piped input, while its copies fail: every
// failed copy must leave the folders exactly as they were, and a kill at any moment of a
// restore must leave the live file whole. The program's texts come from the session cases of
// tests/transcripts, never from the program's sources.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.hpp"
#include "support/launch.hpp"
#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace support;

const std::string kPrompt = "Press any key to continue...\n";
const std::string kFolderExists = "Folder Skulvane_Backups already exists.\n";

const std::string kBackupDone = OperationEnd("BackupAllFresh");
const std::string kRestoreAllDone = OperationEnd("RestoreAll");
const std::string kRestoreEachDone = OperationEnd("RestoreEachAllYes");
// The menu and the pause after X, or at the end of the input.
const std::string kLastCycle = Texts(SessionCaseNamed("ExitUpper").transcript).back() + kPrompt;

/// `size` bytes made of 8-byte blocks "<tag><7 hex digits of the block's number>", so that a
/// mix of two such files, a shifted copy or a cut one equals neither.
std::string Pattern(char tag, std::size_t size) {
  std::string text(size, tag);
  for (std::size_t block = 0; block * 8 < size; ++block) {
    for (std::size_t i = 1; i < 8 && block * 8 + i < size; ++i) {
      text[block * 8 + i] = "0123456789abcdef"[(block >> (4 * (7 - i))) & 0xf];
    }
  }
  return text;
}

/// An unprivileged user to run as, where the tests run as root (which ignores permission bits).
bool FindUnprivilegedUser(User& user) {
  for (const passwd* entry : {getpwnam("nobody"), getpwuid(1000)}) {
    if (entry != nullptr && entry->pw_uid != 0) {
      user = {entry->pw_uid, entry->pw_gid};
      return true;
    }
  }
  return false;
}

class Faults : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    fs::create_directories(game_ / "Skulvane_Backups");
    fs::create_directories(root_ / "roots");  // folders of root's beside the game, where used
  }
};

// ---------------------------------------------------------------------------------------------
// Failed copies

struct Fault {
  const char* name;
  void (*prepare)(const fs::path& game);
  const char* input;
  std::string reports;  // standard error, whole
  std::string done;     // the operation's last message
  rlim_t file_size_limit = RLIM_INFINITY;
  // Who runs it: the tests' user, or, where that is root, a user for whom permission bits count
  // (who then owns the game folder), or root in that user's game folder, or root in its own.
  enum { tester, player, root_for_player, root } runner = tester;
};

void PrintTo(const Fault& fault, std::ostream* os) {
  *os << fault.name;
}

void Untouched(const fs::path&) {}

constexpr uid_t kAnotherPlayer = 4242;  // another player's account
constexpr gid_t kPlayers = 4243;        // a players' group

/// How a line names them: by name where the system has one, else by number.
std::string UserName(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry != nullptr ? entry->pw_name : "user " + std::to_string(uid);
}
std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

/// Folders of root's beside the game: one only root may enter, with a file of root's, and one
/// the player may enter, with another and one that root's group may read.
fs::path RootsFiles(const fs::path& game) {
  const fs::path roots = game.parent_path() / "roots";
  fs::create_directories(roots / "private");
  fs::create_directories(roots / "public");
  fs::permissions(roots / "private", fs::perms(0700));
  WriteFile(roots / "private" / "secret", "root's secret\n");
  WriteFile(roots / "public" / "existing", "root's file\n");
  WriteFile(roots / "public" / "group-only", "root's group's file\n");
  fs::permissions(roots / "public" / "group-only", fs::perms(0640));
  return roots;
}

/// `file` of System replaced by a link to `to`, made by `owner` (the game folder's by default).
void PlantLink(const fs::path& game, const char* file, const fs::path& to, uid_t owner = ~0u) {
  struct stat folder;
  stat(game.c_str(), &folder);
  const fs::path link = game / "System" / file;
  fs::remove(link);
  fs::create_symlink(to, link);
  lchown(link.c_str(), owner == ~0u ? folder.st_uid : owner, owner == ~0u ? folder.st_gid : owner);
}

/// SkAux.ini a link that the player planted to `to` in the folders of RootsFiles().
void LinkedToRoots(const fs::path& game, const char* to) {
  PlantLink(game, "SkAux.ini", RootsFiles(game) / to);
}

const std::string kLinkedRestoreRefused = "Cannot copy to System\\SkAux.ini: Permission denied\n";

void ReadOnly(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    fs::permissions(entry.path(), fs::perms(0444));
  }
  fs::permissions(folder, fs::perms(0555));
}

std::string EachReport(const std::string& folder, const std::string& prefix,
                       const std::string& reason, const char* cannot = "Cannot copy to ") {
  std::string out;
  for (const char* name : kNames) {
    out += cannot + folder + "\\" + prefix + name + ": " + reason + "\n";
  }
  return out;
}

const std::string kNotAsRoot = ": run sk-backup as a player, not as root";
const std::string kAnotherPlayersLink =
    "Not following System\\SkAux.ini: it is a link of " + UserName(kAnotherPlayer) +
    "'s; ask that user to replace it by the file or folder it links to\n";

const Fault kFaults[] = {
    {"WritesCutShortByAFileSizeLimitOnBackup", Untouched, "1\nx\n",
     kFolderExists + EachReport("Skulvane_Backups", "BACKUP_", "File too large"), kBackupDone,
     16 * 1024},
    {"WritesCutShortByAFileSizeLimitOnRestore", Untouched, "3\ny\nx\n",
     EachReport("System", "", "File too large"), kRestoreAllDone, 16 * 1024},
    // A folder that takes no new file, around files that may not be written either.
    {"BackupFolderThatMayNotBeWritten",
     [](const fs::path& game) { ReadOnly(game / "Skulvane_Backups"); }, "1\nx\n",
     kFolderExists + EachReport("Skulvane_Backups", "BACKUP_", "Permission denied"), kBackupDone,
     RLIM_INFINITY, Fault::player},
    {"SystemFolderThatMayNotBeWritten", [](const fs::path& game) { ReadOnly(game / "System"); },
     "3\ny\nx\n", EachReport("System", "", "Permission denied"), kRestoreAllDone, RLIM_INFINITY,
     Fault::player},
    {"BackupFolderNameTakenByAFile",
     [](const fs::path& game) {
       fs::remove_all(game / "Skulvane_Backups");
       WriteFile(game / "Skulvane_Backups", "a plain file\n");
     },
     "1\nx\n",
     "Cannot create folder Skulvane_Backups: File exists\n" +
         EachReport("Skulvane_Backups", "BACKUP_", "Not a directory"),
     kBackupDone},
    // Under sudo in a player's folder, the player's links lead nowhere the player could not go.
    {"RootReadingAFileOnlyRootMayRead",
     [](const fs::path& game) { LinkedToRoots(game, "private/secret"); }, "2 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: Permission denied\n", kBackupDone,
     RLIM_INFINITY, Fault::root_for_player},
    {"RootMakingAFileWhereOnlyRootMay",
     [](const fs::path& game) { LinkedToRoots(game, "private/cron"); }, "4 y n n x\n",
     kLinkedRestoreRefused, kRestoreEachDone, RLIM_INFINITY, Fault::root_for_player},
    {"RootOverwritingAFileOfRoots",
     [](const fs::path& game) { LinkedToRoots(game, "public/existing"); }, "4 y n n x\n",
     kLinkedRestoreRefused, kRestoreEachDone, RLIM_INFINITY, Fault::root_for_player},
    {"RootMakingAFileInAFolderOfRoots",
     [](const fs::path& game) { LinkedToRoots(game, "public/cron"); }, "4 y n n x\n",
     "Cannot copy to System\\SkAux.ini: Not writing through a link to nothing\n", kRestoreEachDone,
     RLIM_INFINITY, Fault::root_for_player},
    // The drop takes the owner's group, not the folder's (root's here).
    {"RootReadingAFileOfRootsGroup",
     [](const fs::path& game) {
       struct stat folder;
       stat(game.c_str(), &folder);
       lchown(game.c_str(), folder.st_uid, 0);
       LinkedToRoots(game, "public/group-only");
     },
     "2 y n n x\n", kFolderExists + "Cannot copy System\\SkAux.ini: Permission denied\n",
     kBackupDone, RLIM_INFINITY, Fault::root_for_player},
    // A shared install: root's game folder, System writable by a players' group, where a player
    // linked one file to a root file and hard-linked another to one.
    {"RootInASharedInstall",
     [](const fs::path& game) {
       chown((game / "System").c_str(), 0, kPlayers);
       fs::permissions(game / "System", fs::perms(02775));
       PlantLink(game, "SkAux.ini", RootsFiles(game) / "private/secret", kAnotherPlayer);
       fs::remove(game / "System" / "SkLoadouts.ini");
       fs::create_hard_link(game.parent_path() / "roots/public/existing",
                            game / "System" / "SkLoadouts.ini");
     },
     "1 3 y x\n",
     kFolderExists +
         EachReport("System", "",
                    "System may be written by group " + GroupName(kPlayers) + kNotAsRoot,
                    "Cannot copy ") +
         EachReport("System", "",
                    "System may be written by group " + GroupName(kPlayers) + kNotAsRoot),
     kRestoreAllDone, RLIM_INFINITY, Fault::root},
    // Root's game folder with a player's backup folder: her files, one a link to a root file.
    {"RootWithAPlayersBackupFolder",
     [](const fs::path& game) {
       const fs::path backups = game / "Skulvane_Backups";
       fs::remove(backups / "BACKUP_SkLoadouts.ini");
       fs::create_symlink(RootsFiles(game) / "public/existing", backups / "BACKUP_SkLoadouts.ini");
       for (const auto& entry : fs::directory_iterator(backups)) {
         lchown(entry.path().c_str(), kAnotherPlayer, kAnotherPlayer);
       }
       chown(backups.c_str(), kAnotherPlayer, kAnotherPlayer);
     },
     "1 3 y x\n",
     kFolderExists +
         EachReport("Skulvane_Backups", "BACKUP_",
                    "Skulvane_Backups belongs to " + UserName(kAnotherPlayer) + kNotAsRoot) +
         EachReport("Skulvane_Backups", "BACKUP_",
                    "Skulvane_Backups belongs to " + UserName(kAnotherPlayer) + kNotAsRoot,
                    "Cannot copy "),
     kRestoreAllDone, RLIM_INFINITY, Fault::root},
    // Root's game folder that anyone may write, as a sticky folder reached through a link is.
    {"RootInAGameFolderAnyoneMayWrite",
     [](const fs::path& game) { fs::permissions(game, fs::perms(01777)); }, "2 y n n x\n",
     "Cannot create folder Skulvane_Backups: this folder may be written by group root" +
         kNotAsRoot + "\nCannot copy System\\SkAux.ini: this folder may be written by group root" +
         kNotAsRoot + "\n",
     kBackupDone, RLIM_INFINITY, Fault::root},
    // In a sticky folder anyone may write, another player links SkAux.ini to the player's own
    // file: neither a backup nor a restore follows it.
    {"AnotherPlayersLinkInAStickyFolder",
     [](const fs::path& game) {
       struct stat folder;
       stat(game.c_str(), &folder);
       const fs::path own = game.parent_path() / "roots" / "players-own";
       fs::create_directories(own);
       WriteFile(own / "authorized_keys", "the player's key\n");
       for (const fs::path& path : {own, own / "authorized_keys"}) {
         chown(path.c_str(), folder.st_uid, folder.st_gid);
       }
       fs::permissions(game / "System", fs::perms(01777));
       PlantLink(game, "SkAux.ini", own / "authorized_keys", kAnotherPlayer);
     },
     "2 y n n 4 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: " + kAnotherPlayersLink +
         "Cannot copy to System\\SkAux.ini: " + kAnotherPlayersLink,
     kRestoreEachDone, RLIM_INFINITY, Fault::player},
};

class FailedCopy : public Faults, public ::testing::WithParamInterface<Fault> {};

TEST_P(FailedCopy, LeavesEverythingAsItWasAndTheDialogueGoesOn) {
  const Fault& fault = GetParam();
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    const char tag = static_cast<char>('a' + i);
    WriteFile(game_ / "System" / kNames[i], Pattern(tag, 64 * 1024));
    WriteFile(game_ / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[i]),
              Pattern(static_cast<char>(tag - 'a' + 'A'), 48 * 1024));
  }
  Launch launch;
  User user{};
  if (fault.runner == Fault::root && geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  if (fault.runner != Fault::tester && fault.runner != Fault::root && geteuid() == 0) {
    if (!FindUnprivilegedUser(user)) {
      GTEST_SKIP() << "running as root and no unprivileged user (nobody, uid 1000) to run as";
    }
    fs::permissions(root_, fs::perms(0755));
    ASSERT_EQ(lchown(game_.c_str(), user.uid, user.gid), 0);
    for (const auto& entry : fs::recursive_directory_iterator(game_)) {
      ASSERT_EQ(lchown(entry.path().c_str(), user.uid, user.gid), 0);
    }
    if (fault.runner == Fault::player) {  // from a copy of the program that the player can reach
      launch.program = (root_ / "sk-backup").string();
      fs::copy_file(SK_BACKUP_EXE, launch.program);
      fs::permissions(launch.program, fs::perms(0755));
      launch.user = &user;
    }
  } else if (fault.runner == Fault::root_for_player) {
    GTEST_SKIP() << "needs root";
  }
  fault.prepare(game_);
  const auto before = FolderTree(game_, Detail::kStatus);
  const auto roots = FolderTree(root_ / "roots", Detail::kStatus);

  launch.folder = game_;
  launch.input = fault.input;
  launch.out = root_ / "out";
  launch.err = root_ / "err";
  launch.file_size_limit = fault.file_size_limit;
  const int status = Finish(Start(launch));
  ASSERT_NE(status, -1) << "the program did not end within 20 s";
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSwitchUser) {
    GTEST_SKIP() << "cannot run as uid " << user.uid << " in " << game_ << " here";
  }

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ(ReadFile(launch.err), fault.reports);
  const std::string out = ReadFile(launch.out);
  EXPECT_NE(out.find(fault.done), std::string::npos) << out;
  EXPECT_TRUE(out.size() >= kLastCycle.size() &&
              out.compare(out.size() - kLastCycle.size(), kLastCycle.size(), kLastCycle) == 0)
      << out;
  EXPECT_EQ(FolderTree(game_, Detail::kStatus), before);
  EXPECT_EQ(FolderTree(root_ / "roots", Detail::kStatus), roots);
}

INSTANTIATE_TEST_SUITE_P(Copies, FailedCopy, ::testing::ValuesIn(kFaults),
                         support::CaseName<Fault>);

// ---------------------------------------------------------------------------------------------
// Kills

TEST_F(Faults, AKilledRestoreLeavesTheWholeOldOrTheWholeNewFile) {
  constexpr std::size_t kSize = 32 * 1024 * 1024;
  constexpr int kTrials = 24;
  unsigned seed = 20261207;
  if (const char* text = std::getenv("SK_BACKUP_KILL_SEED")) {
    seed = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  }
  std::cout << "kill trials: seed " << seed << " (set SK_BACKUP_KILL_SEED to change it)\n";
  RecordProperty("seed", std::to_string(seed));

  // The live files hold the old settings, the backup the new; the first file is the big one.
  std::string old_content[3];
  std::string new_content[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t size = i == 0 ? kSize : 4096;
    old_content[i] = Pattern(static_cast<char>('o' + i), size);
    new_content[i] = Pattern(static_cast<char>('N' + i), size);
    WriteFile(game_ / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[i]), new_content[i]);
  }
  bool replaced[3] = {true, true, true};
  const auto reset = [&] {
    for (int i = 0; i < 3; ++i) {
      if (replaced[i]) {
        WriteFile(game_ / "System" / kNames[i], old_content[i]);
      }
    }
  };
  const auto backups = FolderTree(game_ / "Skulvane_Backups", Detail::kStatus);
  const auto names_of_backups = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(game_ / "Skulvane_Backups")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };
  const std::set<std::string> backup_names = names_of_backups();

  Launch launch;
  launch.folder = game_;
  launch.input = "3\ny\nx\n";

  // Whole runs, to learn how long the restore takes here (the longer of two).
  Clock::duration whole_run{};
  for (int run = 0; run < 2; ++run) {
    reset();
    const auto started = Clock::now();
    const int status = Finish(Start(launch));
    whole_run = std::max(whole_run, Clock::now() - started);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
    ASSERT_TRUE(ReadFile(game_ / "System" / kNames[0]) == new_content[0]);
  }

  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole_run).count());
  // Every other trial ends the run with a signal that the program can catch: it must remove its
  // temporary file itself. A SIGKILL's leftover is removed by a later run's copy into System.
  constexpr int kCatchable[] = {SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGPIPE, SIGHUP};
  int old_count = 0;
  int new_count = 0;
  int finished = 0;
  int temporaries = 0;
  const auto temporaries_in_system = [&] {
    const std::regex temporary_name(R"(\.sk-backup-[0-9a-f]{16})");
    int count = 0;
    for (const auto& entry : fs::directory_iterator(game_ / "System")) {
      const std::string name = entry.path().filename().string();
      if (std::regex_match(name, temporary_name)) {
        ++count;
      } else {
        EXPECT_TRUE(name == kNames[0] || name == kNames[1] || name == kNames[2])
            << "unexpected entry " << name;
      }
    }
    return count;
  };
  for (int trial = 0; trial < kTrials; ++trial) {
    reset();
    const int signal_number = trial % 2 == 0 ? SIGKILL : kCatchable[trial / 2 % 7];
    const int left_before = temporaries_in_system();
    const pid_t pid = Start(launch);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, signal_number);
    const int trial_status = Finish(pid);
    ASSERT_NE(trial_status, -1);
    finished += WIFEXITED(trial_status) ? 1 : 0;

    const int left = temporaries_in_system();
    EXPECT_LE(left, left_before + (signal_number == SIGKILL ? 1 : 0))
        << "trial " << trial << ": signal " << signal_number << " left a temporary file";
    temporaries += std::max(0, left - left_before);
    for (int i = 0; i < 3; ++i) {
      const std::string live = ReadFile(game_ / "System" / kNames[i]);
      const bool is_old = live == old_content[i];
      const bool is_new = live == new_content[i];
      ASSERT_TRUE(is_old || is_new) << "trial " << trial << ": " << kNames[i] << " holds "
                                    << live.size() << " bytes of neither the old nor the new";
      replaced[i] = !is_old;
      if (i == 0) {
        (is_old ? old_count : new_count) += 1;
      }
    }
    // A restore never writes beside the backup copies.
    ASSERT_EQ(names_of_backups(), backup_names) << "trial " << trial;
  }
  EXPECT_EQ(FolderTree(game_ / "Skulvane_Backups", Detail::kStatus), backups);
  // A kill while the data is written leaves nothing where the file system has anonymous files:
  // only one in the short time between link and rename leaves a named file.
  const int anonymous = open((game_ / "System").c_str(), O_TMPFILE | O_RDWR, 0600);
  if (anonymous >= 0) {
    close(anonymous);
    EXPECT_LE(temporaries, 1);
  }
  // A whole run's copies into System remove every temporary file that the kills left there.
  reset();
  ASSERT_EQ(Finish(Start(launch)), 0);
  EXPECT_EQ(temporaries_in_system(), 0);
  std::cout << "kill trials: " << kTrials << " within "
            << std::chrono::duration_cast<std::chrono::milliseconds>(whole_run).count()
            << " ms of a whole run: " << old_count << " old, " << new_count << " new (" << finished
            << " finished before the kill), " << temporaries
            << " temporary files left by SIGKILL, removed by later runs\n";
  RecordProperty("old", old_count);
  RecordProperty("new", new_count);
  RecordProperty("temporaries", temporaries);
}

TEST_F(Faults, TwoRunsAtOnceNeverTakeTheOthersTemporaryFileForStale) {
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    WriteFile(game_ / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[i]),
              Pattern(static_cast<char>('N' + i), 256 * 1024));
  }
  std::string input;
  for (int i = 0; i < 30; ++i) {
    input += "3\ny\n";
  }
  Launch runs[2];
  pid_t pids[2];
  for (int i = 0; i < 2; ++i) {
    runs[i].folder = game_;
    runs[i].input = input + "x\n";
    runs[i].err = root_ / ("err" + std::to_string(i));
    pids[i] = Start(runs[i]);
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Finish(pids[i]), 0);
    EXPECT_EQ(ReadFile(runs[i].err), "") << "run " << i;
  }
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    EXPECT_TRUE(ReadFile(game_ / "System" / kNames[i]) ==
                Pattern(static_cast<char>('N' + i), 256 * 1024));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(game_ / "System"), fs::directory_iterator()), 3);
}

// ---------------------------------------------------------------------------------------------
// A writer

/// Save `save` of a settings file: 16-byte lines that each carry the save's number.
std::string Save(unsigned save) {
  std::string text;
  char line[17];
  for (unsigned block = 0; block < 4096; ++block) {
    std::snprintf(line, sizeof line, "%08x %06x\n", save, block);
    text += line;
  }
  return text;
}

// The game saves in a loop, each save in 128 writes, without a pause of its own; backups run
// meanwhile. A backup reported copied holds one whole save, or a state that a save left while
// the scheduler held its writer between two writes (the only changes no program can see): its
// beginning, then, in place, the rest of the save before. Never zeros, nor a mix of two saves
// that the file held only for the time of a write.
TEST_F(Faults, AGameSavingDuringBackupsNeverGetsABackupOfBytesItNeverHeld) {
  constexpr int kRuns = 100;
  constexpr int kAtOnce = 10;
  constexpr std::size_t kSaves = 1 << 15;  // the saves noted, by number modulo this
  constexpr std::size_t kWrites = 128;
  constexpr long kPause = 10000;  // ns: five times a write's time here, a fraction of a copy's
  const fs::path live = root_ / "live.ini";
  // For each save and each write, whether it ended long after the write before (or the open):
  // the writer was held, and the file held the state that this write or the one before left (a
  // write may sleep once its bytes are in, while the kernel writes back).
  auto* paused = static_cast<volatile char*>(mmap(
      nullptr, kSaves * (kWrites + 1), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(paused, MAP_FAILED);
  for (const bool in_place : {false, true}) {
    WriteFile(live, Save(0));
    const pid_t writer = fork();
    if (writer == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // the test may end before it
      const auto now = [] {
        struct timespec at;
        clock_gettime(CLOCK_MONOTONIC, &at);
        return at.tv_sec * 1000000000L + at.tv_nsec;
      };
      for (unsigned save = 1;; ++save) {
        const std::string text = Save(save);
        volatile char* noted = paused + save % kSaves * (kWrites + 1);
        const int fd = open(live.c_str(), O_WRONLY | (in_place ? 0 : O_TRUNC));
        long last = now();
        for (std::size_t write = 0; fd >= 0 && write < kWrites; ++write) {
          if (pwrite(fd, text.data() + write * 512, 512, static_cast<off_t>(write * 512)) != 512) {
            _exit(1);
          }
          const long done = now();
          noted[write] = done - last > kPause;
          last = done;
        }
        close(fd);
      }
    }
    int whole = 0;
    int beginning = 0;
    int refused = 0;
    const auto judge = [&](const std::string& err, const std::string& backup) {
      const unsigned number = static_cast<unsigned>(std::strtoul(backup.c_str(), nullptr, 16));
      const std::string save = Save(number);
      volatile char* noted = paused + number % kSaves * (kWrites + 1);
      const std::size_t cut =
          (std::mismatch(backup.begin(), backup.end(), save.begin(), save.end()).first -
           backup.begin()) /
          512;
      const std::string state =
          save.substr(0, cut * 512) + (in_place ? Save(number - 1).substr(cut * 512) : "");
      if (err.find(": it changed while it was copied") != std::string::npos) {
        ++refused;
        EXPECT_EQ(backup, "");
      } else if (backup == save) {
        ++whole;
      } else {
        ++beginning;
        // Empty: the file just after its truncation, of a save not known.
        EXPECT_TRUE(backup.empty() ||
                    (backup == state && cut > 0 && (noted[cut - 1] != 0 || noted[cut] != 0)))
            << "a backup reported copied holds " << backup.size()
            << " bytes that the file never held, or held only while save " << number
            << " was being written: " << err << backup.substr(0, 16) << "..."
            << backup.substr(std::min(cut * 512, backup.size()), 16);
      }
    };
    for (int batch = 0; batch < kRuns; batch += kAtOnce) {
      Launch runs[kAtOnce];
      pid_t pids[kAtOnce];
      for (int i = 0; i < kAtOnce; ++i) {
        runs[i].folder =
            root_ / ((in_place ? "in-place" : "truncated") + std::to_string(batch + i));
        fs::create_directories(runs[i].folder / "System");
        fs::create_hard_link(live, runs[i].folder / "System" / kNames[0]);
        runs[i].input = "2 y n n x\n";
        runs[i].err = runs[i].folder / "err";
        pids[i] = Start(runs[i]);
        setpriority(PRIO_PROCESS, static_cast<id_t>(pids[i]), 19);  // the writer first
      }
      for (int i = 0; i < kAtOnce; ++i) {
        EXPECT_EQ(Finish(pids[i]), 0);
        judge(ReadFile(runs[i].err),
              ReadFile(runs[i].folder / "Skulvane_Backups" / (std::string("BACKUP_") + kNames[0])));
      }
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    std::cout << (in_place ? "in place" : "truncated, then written") << ": " << kRuns
              << " backups while the game saved: " << whole << " copied whole, " << beginning
              << " copied as a beginning, " << refused << " refused\n";
  }
  munmap(const_cast<char*>(paused), kSaves * (kWrites + 1));
}

}  // namespace
