// Failed copies of the built program run as a player would, with piped input: a file-size
// limit, folders that may not be written, a name taken, a start in the wrong folder, a player
// without rights, a copy in place under limits. Each leaves every folder exactly as it was, says
// what to do, and the dialogue goes on. The program's texts come from the session cases of
// tests/transcripts, never from the program's sources.

#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "support/faults.hpp"

namespace {

using namespace support;

const std::string kNotAFolder =
    "; Skulvane_Backups is a file, not a folder: rename it or move it away, then back up again";

void ReadOnly(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    fs::permissions(entry.path(), fs::perms(0444));
  }
  fs::permissions(folder, fs::perms(0555));
}

const Fault kFaults[] = {
    {"WritesCutShortByAFileSizeLimitOnBackup", Untouched, "1\nx\n",
     kFolderExists + EachReport("Skulvane_Backups", "BACKUP_", "File too large"), kBackupDone,
     16 * 1024},
    {"WritesCutShortByAFileSizeLimitOnRestore", Untouched, "3\ny\nx\n",
     EachReport("System", "", "File too large"), kRestoreAllDone, 16 * 1024},
    // A folder that takes no new file, around files that may not be written either.
    {"BackupFolderThatMayNotBeWritten",
     [](const fs::path& game) { ReadOnly(game / "Skulvane_Backups"); }, "1\nx\n",
     kFolderExists + EachReport("Skulvane_Backups", "BACKUP_",
                                "Permission denied; Skulvane_Backups is read-only: make it "
                                "writable with chmod u+rwx Skulvane_Backups"),
     kBackupDone, RLIM_INFINITY, Fault::player},
    {"SystemFolderThatMayNotBeWritten", [](const fs::path& game) { ReadOnly(game / "System"); },
     "3\ny\nx\n",
     EachReport("System", "",
                "Permission denied; System is read-only: make it writable with chmod u+rwx System"),
     kRestoreAllDone, RLIM_INFINITY, Fault::player},
    {"BackupFolderNameTakenByAFile",
     [](const fs::path& game) {
       fs::remove_all(game / "Skulvane_Backups");
       WriteFile(game / "Skulvane_Backups", "a plain file\n");
     },
     "1\nx\n",
     "Cannot create folder Skulvane_Backups: File exists" + kNotAFolder + "\n" +
         EachReport("Skulvane_Backups", "BACKUP_", "Not a directory" + kNotAFolder),
     kBackupDone},
    // Started in the wrong folder, or inside System: the line names the folder and the right one.
    {"StartedInAFolderWithoutSystem",
     [](const fs::path& game) { fs::rename(game / "System", game / "Settings"); }, "2 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: No such file or directory; sk-backup works "
                     "in the folder it is started in, {game}, which holds no System folder: cd to "
                     "the game's folder (the one that holds System) and start it there\n",
     kBackupDone},
    {"StartedInsideSystem", Untouched, "4 y n n x\n",
     "Cannot copy Skulvane_Backups\\BACKUP_SkAux.ini: No such file or directory; sk-backup was "
     "started inside the System folder, {game}/System: cd .. to the game's folder (the one that "
     "holds System) and start it there\n",
     kRestoreEachDone, RLIM_INFINITY, Fault::tester, "System"},
    // A player in a shared install of root's, and in a card's folder of a user unknown here.
    {"PlayerInAFolderOfRoots",
     [](const fs::path& game) { fs::remove_all(game / "Skulvane_Backups"); }, "1\nx\n",
     "Cannot create folder Skulvane_Backups: Permission denied; {game} belongs to root: start "
     "sk-backup with sudo (it then acts as root, who owns this folder), or ask root to let you "
     "write it\n" +
         EachReport("Skulvane_Backups", "BACKUP_",
                    "No such file or directory; the folder Skulvane_Backups could not be made: "
                    "the line about it above says why"),
     kBackupDone, RLIM_INFINITY, Fault::player_in_others_folder},
    {"PlayerOnACardFromAnotherMachine",
     [](const fs::path& game) {
       fs::remove_all(game / "Skulvane_Backups");
       lchown(game.c_str(), 4244, 4244);  // an owner with no account here
     },
     "2 y n n x\n",
     "Cannot create folder Skulvane_Backups: Permission denied; {game} belongs to user 4244, who "
     "is not in /etc/passwd: if the card or drive comes from another machine, make it yours with "
     "sudo chown -R \"$USER\": . and start sk-backup again, without sudo; else run it as that "
     "user\nCannot copy to Skulvane_Backups\\BACKUP_SkAux.ini: No such file or directory; the "
     "folder Skulvane_Backups could not be made: the line about it above says why\n",
     kBackupDone, RLIM_INFINITY, Fault::player_in_others_folder},
    // In place, no copy of the old bytes can be kept under a file-size limit: nothing is written.
    {"FileSizeLimitOnAWriteInPlace", SystemTakesNoNewFile, "4 y n n x\n",
     "Cannot copy to System\\SkAux.ini: no copy of its old bytes could be kept first "
     "(Skulvane_Backups: File too large; {state}/sk-backup: File too large); the folder takes no "
     "new file, so it is left as it was\n",
     kRestoreEachDone, 16 * 1024, Fault::player},
    {"MemoryLimitOnAWriteInPlace",
     [](const fs::path& game) {
       SystemTakesNoNewFile(game);
       WriteFile(game / "System/SkAux.ini", Pattern('o', 24 << 20));
       WriteFile(game / "Skulvane_Backups/BACKUP_SkAux.ini", Pattern('N', 24 << 20));
     },
     "4 y n n x\n",
     "Cannot copy to System\\SkAux.ini: there is not enough memory to write it in place, where a "
     "failure must be undone; the folder takes no new file, so it is left as it was\n",
     kRestoreEachDone, RLIM_INFINITY, Fault::player, ".", nullptr, nullptr, 40 << 20},
};

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
  if ((fault.runner == Fault::root || fault.accounts != nullptr) && geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  if (fault.runner != Fault::tester && fault.runner != Fault::root && geteuid() == 0) {
    if (!HandToAPlayer(launch, user, fault.runner != Fault::player_in_others_folder)) {
      GTEST_SKIP() << "running as root and no unprivileged user (nobody, uid 1000) to run as";
    }
    if (fault.runner == Fault::root_for_player) {
      launch.user = nullptr;
    }
  } else if (fault.runner == Fault::root_for_player ||
             fault.runner == Fault::player_in_others_folder) {
    GTEST_SKIP() << "needs root";
  }
  fault.prepare(game_);
  if (const std::string unmade = TakeUnmadeSetup(); !unmade.empty()) {
    GTEST_SKIP() << "the row's setup cannot be made here: " << unmade;
  }
  if (fault.accounts != nullptr) {  // copies bound over the system's, as `unshare -m` gives
    const std::string gid = std::to_string(user.gid);
    WriteFile(root_ / "passwd",
              "root:x:0:0::/:\nsk-player:x:" + std::to_string(user.uid) + ":" + gid + "::/:\n");
    WriteFile(root_ / "group", "root:x:0:\nsk-player:x:" + gid + ":\n" + fault.accounts);
    const std::string as = launch.user == nullptr ? ""
                                                  : "setpriv --reuid=" + std::to_string(user.uid) +
                                                        " --regid=" + gid + " --clear-groups ";
    launch.args = {"-m", "sh", "-c",
                   "mount --bind " + (root_ / "passwd").string() + " /etc/passwd && mount --bind " +
                       (root_ / "group").string() + " /etc/group || exit " +
                       std::to_string(kCannotSwitchUser) + "; exec " + as + "\"$0\"",
                   launch.program};
    launch.program = "/usr/bin/unshare";
    launch.user = nullptr;
  }
  const auto before = FolderTree(game_, Detail::kStatus);
  const auto roots = FolderTree(root_ / "roots", Detail::kStatus);

  launch.folder = game_ / fault.start_in;
  launch.input = fault.input;
  launch.out = root_ / "out";
  launch.err = root_ / "err";
  launch.file_size_limit = fault.file_size_limit;
  launch.memory_limit = fault.memory_limit;
#ifdef __SANITIZE_ADDRESS__
  if (fault.memory_limit != RLIM_INFINITY) {  // its shadow memory alone is over any such limit
    GTEST_SKIP() << "the sanitized program needs more address space than the limit gives";
  }
#endif
  launch.environment = {{"XDG_STATE_HOME", state_.string()}};
  const int status = Finish(Start(launch));
  ASSERT_NE(status, -1) << "the program did not end within 20 s";
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSwitchUser) {
    GTEST_SKIP() << "cannot run as uid " << user.uid << " in " << game_ << " here";
  }

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  std::string reports = fault.reports;
  for (const auto& [name, value] :
       {std::pair<std::string, std::string>{"{game}", fs::canonical(game_)},
        {"{roots}", fs::canonical(root_ / "roots")},
        {"{player}", UserName(user.uid)},
        {"{state}", state_.string()}}) {
    for (std::size_t at; (at = reports.find(name)) != std::string::npos;) {
      reports.replace(at, name.size(), value);
    }
  }
  EXPECT_EQ(ReadFile(launch.err), reports);
  const std::string out = ReadFile(launch.out);
  EXPECT_NE(out.find(fault.done), std::string::npos) << out;
  EXPECT_TRUE(out.size() >= kLastCycle.size() &&
              out.compare(out.size() - kLastCycle.size(), kLastCycle.size(), kLastCycle) == 0)
      << out;
  if (fault.check != nullptr) {
    fault.check(game_);
    return;
  }
  EXPECT_EQ(FolderTree(game_, Detail::kStatus), before);
  EXPECT_EQ(FolderTree(root_ / "roots", Detail::kStatus), roots);
}

INSTANTIATE_TEST_SUITE_P(Copies, FailedCopy, ::testing::ValuesIn(kFaults), CaseName<Fault>);

}  // namespace
