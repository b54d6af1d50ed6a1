// The built program run as a player would, with piped input, while its copies fail: every
// failed copy must leave the folders exactly as they were, and a kill at any moment of a
// restore must leave the live file whole. The program's texts come from the session cases of
// tests/transcripts, never from the program's sources.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
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
#include "support/refuse.hpp"
#include "support/scratch.hpp"
#include "support/setup.hpp"
#include "support/tracer.hpp"
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
    UnmadeSetup().clear();
    fs::create_directories(game_ / "Skulvane_Backups");
    fs::create_directories(root_ / "roots");  // folders of root's beside the game, where used
    state_ = root_ / "state";
    fs::create_directories(state_);
  }

  /// Makes `launch` run as a user for whom permission bits count, who then owns the game and
  /// state folders, from a copy of the program that user can reach. False where there is none.
  bool HandToAPlayer(Launch& launch, User& user, bool game_folder_too) {
    if (!FindUnprivilegedUser(user)) {
      return false;
    }
    fs::permissions(root_, fs::perms(0755));
    for (const fs::path& top : {game_, state_}) {
      if (top != game_ || game_folder_too) {
        HandTo(top, user.uid, user.gid);
      }
      for (const auto& entry : fs::recursive_directory_iterator(top)) {
        HandTo(entry.path(), user.uid, user.gid);
      }
    }
    launch.program = (root_ / "sk-backup").string();
    fs::copy_file(SK_BACKUP_EXE, launch.program, fs::copy_options::overwrite_existing);
    fs::permissions(launch.program, fs::perms(0755));
    launch.user = &user;
    return true;
  }

  fs::path state_;  // the player's XDG_STATE_HOME

  void TearDown() override {
    umount2(game_.c_str(), MNT_DETACH);  // a disk image mounted there, where one was
    GameTest::TearDown();
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
  // (who then owns the game folder), or root in that user's game folder, or root in its own, or
  // that user in a game folder that stays another's (root's, unless `prepare` gives it away).
  enum { tester, player, root_for_player, root, player_in_others_folder } runner = tester;
  const char* start_in = ".";      // where in the game folder the run starts
  const char* accounts = nullptr;  // where set, /etc/group holds these and "sk-player" alone
  void (*check)(const fs::path& game) = nullptr;  // for a run that must work: what it made
  rlim_t memory_limit = RLIM_INFINITY;
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
  HandTo(link, owner == ~0u ? folder.st_uid : owner, owner == ~0u ? folder.st_gid : owner);
}

/// SkAux.ini a link that the player planted to `to` in the folders of RootsFiles().
void LinkedToRoots(const fs::path& game, const char* to) {
  PlantLink(game, "SkAux.ini", RootsFiles(game) / to);
}

// What a line says after a drop; {player}, {game} and {roots} stand for the run's names.
const std::string kActing =
    "; sudo runs sk-backup as {player}, the owner of this folder, with {player}'s rights only";
const std::string kLinkedRestoreRefused =
    "Cannot copy to System\\SkAux.ini: Permission denied" + kActing + "\n";
const std::string kNotAFolder =
    "; Skulvane_Backups is a file, not a folder: rename it or move it away, then back up again";

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
const std::string kNoLinkAsRoot =
    ": a run as root follows no link; run sk-backup as the player who plays the game, or replace "
    "the link by what it links to\n";

/// `folder`, of the player's, shared with the players' group as a shared install is (2775).
void SharedWithPlayers(const fs::path& folder) {
  struct stat st;
  stat(folder.c_str(), &st);
  HandTo(folder, st.st_uid, kPlayers);
  fs::permissions(folder, fs::perms(02775));
}

/// A file of the player's own outside the game folder (0600, in a folder of the player's made
/// with the umask 002).
fs::path PlayersOwn(const fs::path& game, const char* name, const char* text) {
  struct stat folder;
  stat(game.c_str(), &folder);
  const fs::path own = game.parent_path() / "roots" / "players-own";
  fs::create_directories(own);
  WriteFile(own / name, text);
  chown(own.c_str(), folder.st_uid, folder.st_gid);
  chown((own / name).c_str(), folder.st_uid, folder.st_gid);
  fs::permissions(own, fs::perms(0775));
  fs::permissions(own / name, fs::perms(0600));
  return own / name;
}

/// The refusal of a link of the player's in `file` of System, below `folder`, which the
/// players' group may write.
std::string MovedIn(const std::string& cannot, const char* file, const char* folder) {
  return cannot + "System\\" + file + ": Not following System\\" + file + ": " + folder +
         " may be written by group " + GroupName(kPlayers) +
         ", so another player could have put it there; replace the link by the file it links "
         "to\n";
}
const std::string kAnotherPlayersLink =
    "Not following System\\SkAux.ini: it is a link of " + UserName(kAnotherPlayer) +
    "'s; ask that user to replace it by the file or folder it links to\n";

void SystemTakesNoNewFile(const fs::path& game) {
  fs::permissions(game / "System", fs::perms(0555));
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
    // Under sudo in a player's folder, the player's links lead nowhere the player could not go.
    {"RootReadingAFileOnlyRootMayRead",
     [](const fs::path& game) { LinkedToRoots(game, "private/secret"); }, "2 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: Permission denied" + kActing + "\n",
     kBackupDone, RLIM_INFINITY, Fault::root_for_player},
    {"RootMakingAFileWhereOnlyRootMay",
     [](const fs::path& game) { LinkedToRoots(game, "private/cron"); }, "4 y n n x\n",
     kLinkedRestoreRefused, kRestoreEachDone, RLIM_INFINITY, Fault::root_for_player},
    {"RootOverwritingAFileOfRoots",
     [](const fs::path& game) { LinkedToRoots(game, "public/existing"); }, "4 y n n x\n",
     "Cannot copy to System\\SkAux.ini: Permission denied" + kActing +
         "; {roots}/public belongs to root: ask root to let {player} write it\n",
     kRestoreEachDone, RLIM_INFINITY, Fault::root_for_player},
    {"RootMakingAFileInAFolderOfRoots",
     [](const fs::path& game) { LinkedToRoots(game, "public/cron"); }, "4 y n n x\n",
     "Cannot copy to System\\SkAux.ini: Not writing through a link to nothing\n", kRestoreEachDone,
     RLIM_INFINITY, Fault::root_for_player},
    // The drop takes the owner's group, not the folder's (root's here).
    {"RootReadingAFileOfRootsGroup",
     [](const fs::path& game) {
       struct stat folder;
       stat(game.c_str(), &folder);
       HandTo(game, folder.st_uid, 0);
       LinkedToRoots(game, "public/group-only");
     },
     "2 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: Permission denied" + kActing +
         "; {roots}/public/group-only belongs to root: ask root to let {player} read it\n",
     kBackupDone, RLIM_INFINITY, Fault::root_for_player},
    // A shared install: root's game folder, System writable by a players' group, where a player
    // linked one file to a root file and hard-linked another to one.
    {"RootInASharedInstall",
     [](const fs::path& game) {
       HandTo(game / "System", 0, kPlayers);
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
         HandTo(entry.path(), kAnotherPlayer, kAnotherPlayer);
       }
       HandTo(backups, kAnotherPlayer, kAnotherPlayer);
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
     "Cannot create folder Skulvane_Backups: this folder may be written by anyone" + kNotAsRoot +
         "\nCannot copy System\\SkAux.ini: this folder may be written by anyone" + kNotAsRoot +
         "\n",
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
         HandTo(path, folder.st_uid, folder.st_gid);
       }
       fs::permissions(game / "System", fs::perms(01777));
       PlantLink(game, "SkAux.ini", own / "authorized_keys", kAnotherPlayer);
     },
     "2 y n n 4 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: " + kAnotherPlayersLink +
         "Cannot copy to System\\SkAux.ini: " + kAnotherPlayersLink,
     kRestoreEachDone, RLIM_INFINITY, Fault::player},
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
    // Another player moves her links in: to her secret (his file waiting), to a file she keeps.
    {"AnotherPlayerMovesHerLinksIntoASharedFolder",
     [](const fs::path& game) {
       SharedWithPlayers(game / "System");
       SharedWithPlayers(game / "Skulvane_Backups");
       PlantLink(game, "SkAux.ini", PlayersOwn(game, "secret.txt", "her secret\n"));
       PlantLink(game, "SkulvaneUser.ini", PlayersOwn(game, "bashrc", "her shell's settings\n"));
       HandTo(game / "Skulvane_Backups" / "BACKUP_SkAux.ini", kAnotherPlayer, kAnotherPlayer);
     },
     "2 y n n 4 n y n x\n",
     kFolderExists + MovedIn("Cannot copy ", "SkAux.ini", "System") +
         MovedIn("Cannot copy to ", "SkulvaneUser.ini", "System"),
     kRestoreEachDone, RLIM_INFINITY, Fault::player},
    // Her own folder of links, renamed into a shared game folder as System.
    {"AnotherPlayerRenamesHerFolderOfLinksIn",
     [](const fs::path& game) {
       SharedWithPlayers(game);
       PlantLink(game, "SkAux.ini", PlayersOwn(game, "secret.txt", "her secret\n"));
     },
     "2 y n n x\n", kFolderExists + MovedIn("Cannot copy ", "SkAux.ini", "this folder"),
     kBackupDone, RLIM_INFINITY, Fault::player},
    // A hard link that he made to a link of hers elsewhere.
    {"AnotherPlayersHardLinkToHerLink",
     [](const fs::path& game) {
       SharedWithPlayers(game / "System");
       const fs::path link = PlayersOwn(game, "secret.txt", "her secret\n").parent_path() / "notes";
       PlantLink(game, "SkAux.ini", link.parent_path() / "secret.txt");
       fs::rename(game / "System" / "SkAux.ini", link);
       ASSERT_EQ(::link(link.c_str(), (game / "System" / "SkAux.ini").c_str()), 0);
     },
     "2 y n n x\n", kFolderExists + MovedIn("Cannot copy ", "SkAux.ini", "System"), kBackupDone,
     RLIM_INFINITY, Fault::player},
    // No link: her own file moved in, his backup folder and file (0666) waiting, to be written in.
    {"AnotherPlayerMovesHerFileInWithHisBackupWaiting",
     [](const fs::path& game) {
       fs::permissions(game / "System" / "SkAux.ini", fs::perms(0600));
       const fs::path backups = game / "Skulvane_Backups";
       HandTo(backups, kAnotherPlayer, kAnotherPlayer);
       HandTo(backups / "BACKUP_SkAux.ini", kAnotherPlayer, kAnotherPlayer);
       fs::permissions(backups / "BACKUP_SkAux.ini", fs::perms(0666));
     },
     "2 y n n x\n",
     kFolderExists + "Cannot copy to Skulvane_Backups\\BACKUP_SkAux.ini: it belongs to " +
         UserName(kAnotherPlayer) +
         ", and the folder takes no new file: written in place, it would give that user the "
         "bytes; it is left as it was\n",
     kBackupDone, RLIM_INFINITY, Fault::player},
    // The player's own folders, made with the umask 002 and her private group: her link works.
    {"APlayersOwnFoldersWithHerPrivateGroup",
     [](const fs::path& game) {
       for (const fs::path& folder : {game, game / "System", game / "Skulvane_Backups"}) {
         fs::permissions(folder, fs::perms(0775));
       }
       PlantLink(game, "SkAux.ini", PlayersOwn(game, "SkAux.ini", "her own settings\n"));
     },
     "2 y n n x\n", kFolderExists, kBackupDone, RLIM_INFINITY, Fault::player, ".", "",
     [](const fs::path& game) {
       EXPECT_EQ(ReadFile(game / "Skulvane_Backups" / "BACKUP_SkAux.ini"), "her own settings\n");
     }},
    // Root in a player's disk image whose entries are all root's (as debugfs sets), with links.
    {"RootInAPlayersDiskImage",
     [](const fs::path& game) {
       RootsFiles(game);
       PlantLink(game, "SkAux.ini", "../../roots/private/secret");
       PlantLink(game, "SkulvaneUser.ini", "../../roots/public/existing");
       const std::string image = (game.parent_path() / "image.ext4").string();
       if (std::system(("mkfs.ext4 -q -F -d '" + game.string() + "' '" + image +
                        "' 4M >/dev/null 2>&1 && mount -o loop '" + image + "' '" + game.string() +
                        "' 2>/dev/null")
                           .c_str()) != 0) {
         NoteUnmade("cannot make and mount an ext4 image (mkfs.ext4 -d, loop) here");
       }
     },
     "2 y n n 4 n y n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: Not following System\\SkAux.ini" +
         kNoLinkAsRoot + "Cannot copy to System\\SkulvaneUser.ini: Not following " +
         "System\\SkulvaneUser.ini" + kNoLinkAsRoot,
     kRestoreEachDone, RLIM_INFINITY, Fault::root},
    // Lines of /etc/group that glibc reads as naming other members: the drop takes neither.
    {"RootDropsToAPlayerListedOnlyOnOddGroupLines",
     [](const fs::path& game) {
       LinkedToRoots(game, "public/group-only");
       chown((game.parent_path() / "roots/public/group-only").c_str(), 0, 5101);
     },
     "2 y n n x\n",
     kFolderExists + "Cannot copy System\\SkAux.ini: Permission denied; sudo runs sk-backup as " +
         "sk-player, the owner of this folder, with sk-player's rights only; {roots}/public/" +
         "group-only belongs to root: ask root to let sk-player read it\n",
     kBackupDone, RLIM_INFINITY, Fault::root_for_player, ".",
     "sk-h1:x:5101:sk-player:\nsk-h2:x:5101:sk-player:x:y\n"},
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
  launch.environment = {{"XDG_STATE_HOME", state_.string()}};
  const int status = Finish(Start(launch));
  ASSERT_NE(status, -1) << "the program did not end within 20 s";
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSwitchUser) {
    GTEST_SKIP() << "cannot run as uid " << user.uid << " in " << game_ << " here";
  }
  if (ReadFile(launch.err).find("AddressSanitizer") != std::string::npos) {
    GTEST_SKIP() << "the sanitized program needs more address space than the limit gives";
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

INSTANTIATE_TEST_SUITE_P(Copies, FailedCopy, ::testing::ValuesIn(kFaults),
                         support::CaseName<Fault>);

// ---------------------------------------------------------------------------------------------
// Kills

/// How the copies of a kill trial make their temporary files.
struct KillTrial {
  const char* name;
  bool (*prepare)();  // in the program's process, before it starts
};

const KillTrial kKillTrials[] = {
    {"AnonymousTemporaryFilesWhereTheFileSystemHasThem", nullptr},
    // As on FAT through FUSE: no O_TMPFILE, so each copy writes a named file from its start.
    {"NamedTemporaryFiles",
     [] { return Refuse({__NR_openat}, EOPNOTSUPP, O_TMPFILE & ~O_DIRECTORY); }},
};

void PrintTo(const KillTrial& trial, std::ostream* os) {
  *os << trial.name;
}

class Kills : public Faults, public ::testing::WithParamInterface<KillTrial> {};

TEST_P(Kills, AKilledRestoreLeavesTheWholeOldOrTheWholeNewFile) {
  const bool named = GetParam().prepare != nullptr;
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
  launch.prepare = GetParam().prepare;

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
  if (anonymous >= 0 && !named) {
    EXPECT_LE(temporaries, 1);
  }
  if (anonymous >= 0) {
    close(anonymous);
  }
  // A whole run's copies into System remove every temporary file that the kills left there.
  reset();
  ASSERT_EQ(Finish(Start(launch)), 0);
  EXPECT_EQ(temporaries_in_system(), 0);
  if (named) {  // a kill the moment the first copy's named file shows: it stays, the file whole
    std::fill(std::begin(replaced), std::end(replaced), true);
    reset();
    const pid_t pid = Start(launch);
    ASSERT_GT(pid, 0);
    const auto deadline = Clock::now() + kDeadline;
    while (temporaries_in_system() == 0 && Clock::now() < deadline) {
    }
    kill(pid, SIGKILL);
    ASSERT_NE(Finish(pid), -1);
    ASSERT_EQ(temporaries_in_system(), 1) << "no named temporary file showed";
    EXPECT_TRUE(ReadFile(game_ / "System" / kNames[0]) == old_content[0]);
    temporaries += 1;
    // The next run's copy of that file removes it.
    ASSERT_EQ(Finish(Start(launch)), 0);
    EXPECT_EQ(temporaries_in_system(), 0);
  }
  std::cout << "kill trials: " << kTrials << " within "
            << std::chrono::duration_cast<std::chrono::milliseconds>(whole_run).count()
            << " ms of a whole run: " << old_count << " old, " << new_count << " new (" << finished
            << " finished before the kill), " << temporaries
            << " temporary files left by SIGKILL, removed by later runs\n";
  RecordProperty("old", old_count);
  RecordProperty("new", new_count);
  RecordProperty("temporaries", temporaries);
}

INSTANTIATE_TEST_SUITE_P(Restores, Kills, ::testing::ValuesIn(kKillTrials),
                         support::CaseName<KillTrial>);

// Another user's FUSE mount on SkAux.ini, whose server never answers (this test holds its
// descriptor and never reads it): the run refuses it at once, having asked the server nothing.
TEST_F(Faults, AnotherUsersFuseMountOnAFileIsRefusedWithoutAskingItsServer) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to mount a FUSE file system for another user";
  }
  const fs::path file = game_ / "System" / "SkAux.ini";
  WriteFile(file, "settings\n");
  const int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  const std::string id = std::to_string(kAnotherPlayer);
  const std::string options = "fd=" + std::to_string(fuse) +
                              ",rootmode=100644,allow_other,user_id=" + id + ",group_id=" + id;
  if (fuse < 0 || mount("sk-test", file.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str())) {
    close(fuse);
    GTEST_SKIP() << "cannot mount FUSE here: " << std::strerror(errno);
  }
  Launch launch;
  launch.folder = game_;
  launch.input = "2 y n n x\n";
  launch.err = root_ / "err";
  const int status = Finish(Start(launch));
  umount2(file.c_str(), MNT_DETACH);
  close(fuse);
  ASSERT_NE(status, -1) << "the program did not end within 20 s";
  EXPECT_EQ(ReadFile(launch.err),
            kFolderExists + "Cannot copy System\\SkAux.ini: System\\SkAux.ini " +
                "is on a mount of " + UserName(kAnotherPlayer) + kNotAsRoot + "\n");
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
// The copy in place: signals and kills after its first write, a full copy-on-write volume

/// The contents of the recovery copies of SkAux.ini under `folder`.
std::vector<std::string> RecoveryCopies(const fs::path& folder) {
  std::vector<std::string> copies;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with("SkAux.ini.sk-backup-old-")) {
      copies.push_back(ReadFile(entry.path()));
    }
  }
  return copies;
}

struct Interruption {
  const char* name;
  int signal_number;  // sent as the first write into SkAux.ini returns; SIGTSTP, then SIGKILL
  bool backups_writable;
};

class InPlace : public Faults {
 protected:
  /// A restore of SkAux.ini that must write in place, run as a player: false where none can.
  bool Prepare(Launch& launch, User& user) {
    WriteFile(game_ / "System/SkAux.ini", old_);
    WriteFile(game_ / "Skulvane_Backups/BACKUP_SkAux.ini", new_);
    SystemTakesNoNewFile(game_);
    launch.folder = game_;
    launch.input = "4 y n n x\n";
    launch.err = root_ / "err";
    launch.environment = {{"XDG_STATE_HOME", state_.string()}};
    return geteuid() != 0 || HandToAPlayer(launch, user, true);
  }

  std::string old_ = Pattern('o', 64 * 1024);
  std::string new_ = Pattern('N', 48 * 1024);
};

class Interrupted : public InPlace, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Interrupted, ASignalWaitsForTheWholeFileAndAKillLeavesTheOldBytesOnDisk) {
  const Interruption& row = GetParam();
  Launch launch;
  User user{};
  if (!Prepare(launch, user)) {
    GTEST_SKIP() << "running as root and no unprivileged user (nobody, uid 1000) to run as";
  }
  fs::permissions(game_ / "Skulvane_Backups", fs::perms(row.backups_writable ? 0755 : 0555));
  launch.traced = true;
  const pid_t pid = Start(launch);
  if (!SignalAfterFirstWrite(pid, "/System/SkAux.ini", row.signal_number)) {
    GTEST_SKIP() << "the program cannot be traced here (wait status " << Finish(pid) << ")";
  }
  int status = 0;
  if (row.signal_number == SIGTSTP) {
    ASSERT_TRUE(waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) << status;
    kill(pid, SIGKILL);
  }
  status = Finish(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
  const std::string live = ReadFile(game_ / "System/SkAux.ini");
  if (live != old_ && live != new_) {
    ASSERT_EQ(row.signal_number, SIGKILL) << "damaged: " << live.size() << " bytes";
    EXPECT_EQ(RecoveryCopies(row.backups_writable ? game_ / "Skulvane_Backups" : state_),
              std::vector<std::string>{old_});
  } else if (row.signal_number != SIGKILL && row.signal_number != SIGTSTP) {
    EXPECT_EQ(RecoveryCopies(root_).size(), 0u) << "a recovery copy was left";
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(game_ / "System"), fs::directory_iterator()), 1);
}

const Interruption kInterruptions[] = {
    {"Interrupt", SIGINT, true},
    {"Terminate", SIGTERM, true},
    {"HangUp", SIGHUP, true},
    {"StopThenKill", SIGTSTP, true},
    {"KillWithTheOldBytesBesideTheBackups", SIGKILL, true},
    {"KillWithTheOldBytesInTheStateFolder", SIGKILL, false},
};

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, ::testing::ValuesIn(kInterruptions),
                         support::CaseName<Interruption>);

// On a full btrfs volume, copy on write needs new room even to write the old bytes back.
TEST_F(InPlace, AFullCopyOnWriteVolumeIsReportedDamagedOnlyWhereItIs) {
  const std::string image = (root_ / "btrfs.img").string();
  const std::string game = game_.string();
  const auto run = [](const std::string& command) { return std::system(command.c_str()) == 0; };
  fs::remove_all(game_);
  fs::create_directories(game_);
  if (geteuid() != 0 || !run("truncate -s 128M " + image + " && mkfs.btrfs -q " + image +
                             " >&- 2>&- && mount -o loop " + image + " " + game)) {
    GTEST_SKIP() << "needs root, mkfs.btrfs, a loop device and btrfs to make a volume to fill";
  }
  struct Unmount {
    std::string game;
    ~Unmount() {
      std::system(("umount " + game).c_str());
    }
  } unmount{game};
  old_ = Pattern('o', 16 << 20);
  new_ = Pattern('N', 16 << 20);
  fs::create_directories(game_ / "System");
  fs::create_directories(game_ / "Skulvane_Backups");
  Launch launch;
  User user{};
  ASSERT_TRUE(Prepare(launch, user)) << "no unprivileged user (nobody, uid 1000) to run as";
  for (const char* blocks : {"1M", "4k"}) {  // every block the volume has
    run("dd if=/dev/zero of=" + game + "/filler" + blocks + " bs=" + blocks + " status=none 2>&-");
  }
  EXPECT_EQ(Finish(Start(launch)), 0);
  ASSERT_TRUE(run("umount " + game + " && mount -o loop " + image + " " + game));
  const std::string live = ReadFile(game_ / "System/SkAux.ini");
  const bool damaged = live != old_ && live != new_;
  EXPECT_EQ(ReadFile(launch.err).find("is now damaged") != std::string::npos, damaged);
  EXPECT_EQ(RecoveryCopies(root_),
            damaged ? std::vector<std::string>{old_} : std::vector<std::string>{});
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
