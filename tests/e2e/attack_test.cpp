// Attacks on a run: links, hard links, folders and mounts that another user put where a copy
// goes, and runs as root in folders of players'. A copy follows nothing another user could have
// put there, a run as root acts with the owner's rights only, and a refusal says what to do;
// what a player made herself works. The rows run as the failed copies do (failed_copy_test.cpp).

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/faults.hpp"
#include "support/refuse.hpp"

namespace {

using namespace support;

constexpr uid_t kAnotherPlayer = 4242;  // another player's account
constexpr gid_t kPlayers = 4243;        // a players' group

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
  return cannot + "System\\" + file + ": not following System\\" + file + ": " + folder +
         " may be written by group " + GroupName(kPlayers) +
         ", so another player could have put it there; replace the link by the file it links "
         "to\n";
}
const std::string kAnotherPlayersLink =
    "not following System\\SkAux.ini: it is a link of " + UserName(kAnotherPlayer) +
    "'s; ask that user to replace it by the file or folder it links to\n";

const Fault kAttacks[] = {
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
     "Cannot copy to System\\SkAux.ini: not writing through a link to nothing\n", kRestoreEachDone,
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
     kFolderExists + "Cannot copy System\\SkAux.ini: not following System\\SkAux.ini" +
         kNoLinkAsRoot + "Cannot copy to System\\SkulvaneUser.ini: not following " +
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

INSTANTIATE_TEST_SUITE_P(Copies, FailedCopy, ::testing::ValuesIn(kAttacks), CaseName<Fault>);

// Another user's FUSE mount on SkAux.ini, whose server never answers (this test holds its
// descriptor and never reads it): the run refuses it at once, having asked the server nothing;
// so does a run where statmount is refused (a kernel before 6.8, a container's filter), which
// reads mountinfo instead.
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
  bool (*const prepares[])() = {nullptr, [] { return Refuse({457}, ENOSYS); }};  // 457: statmount
  for (bool (*prepare)() : prepares) {
    Launch launch;
    launch.folder = game_;
    launch.input = "2 y n n x\n";
    launch.err = root_ / "err";
    launch.prepare = prepare;
    const int status = Finish(Start(launch));
    EXPECT_NE(status, -1) << "the program did not end within 20 s";
    EXPECT_EQ(ReadFile(launch.err),
              kFolderExists + "Cannot copy System\\SkAux.ini: System\\SkAux.ini " +
                  "is on a mount of " + UserName(kAnotherPlayer) + kNotAsRoot + "\n");
  }
  umount2(file.c_str(), MNT_DETACH);
  close(fuse);
}

}  // namespace
