// The harness of the runs under faults (POSIX): a game folder with its backups and a player's
// state folder, a run handed to a player where the tests run as root, the texts a run ends
// with, and the table row of a failed copy, whose test (failed_copy_test.cpp) checks that it
// leaves every folder as it was. Shared by the tests of tests/e2e on failures, attacks, kills,
// signals and writers.
#pragma once

#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/files.hpp"
#include "support/launch.hpp"
#include "support/refusals.hpp"
#include "support/scratch.hpp"
#include "support/setup.hpp"
#include "support/transcripts.hpp"

namespace support {

inline const std::string kPrompt = "Press any key to continue...\n";
inline const std::string kFolderExists = "Folder Skulvane_Backups already exists.\n";

inline const std::string kBackupDone = OperationEnd("BackupAllFresh");
inline const std::string kRestoreAllDone = OperationEnd("RestoreAll");
inline const std::string kRestoreEachDone = OperationEnd("RestoreEachAllYes");
// The menu and the pause after X, or at the end of the input.
inline const std::string kLastCycle =
    Texts(SessionCaseNamed("ExitUpper").transcript).back() + kPrompt;

/// `size` bytes made of 8-byte blocks "<tag><7 hex digits of the block's number>", so that a
/// mix of two such files, a shifted copy or a cut one equals neither.
inline std::string Pattern(char tag, std::size_t size) {
  std::string text(size, tag);
  for (std::size_t block = 0; block * 8 < size; ++block) {
    for (std::size_t i = 1; i < 8 && block * 8 + i < size; ++i) {
      text[block * 8 + i] = "0123456789abcdef"[(block >> (4 * (7 - i))) & 0xf];
    }
  }
  return text;
}

/// An unprivileged user to run as, where the tests run as root (which ignores permission bits).
inline bool FindUnprivilegedUser(User& user) {
  for (const passwd* entry : {getpwnam("nobody"), getpwuid(1000)}) {
    if (entry != nullptr && entry->pw_uid != 0) {
      user = {entry->pw_uid, entry->pw_gid};
      return true;
    }
  }
  return false;
}

/// A game folder with Skulvane_Backups, a folder "roots" beside it and a player's state folder.
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

/// A row of the failed copies: the run, what it reports, and who runs it.
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

inline void PrintTo(const Fault& fault, std::ostream* os) {
  *os << fault.name;
}

/// A row's `prepare` that changes nothing.
inline void Untouched(const fs::path&) {}

/// How a line names a user: by name where the system has one, else by number.
inline std::string UserName(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry != nullptr ? entry->pw_name : "user " + std::to_string(uid);
}

/// The line of each settings file in `folder` (named with `prefix`), failed for `reason`.
inline std::string EachReport(const std::string& folder, const std::string& prefix,
                              const std::string& reason, const char* cannot = "Cannot copy to ") {
  std::string out;
  for (const char* name : kNames) {
    out += cannot + folder + "\\" + prefix + name + ": " + reason + "\n";
  }
  return out;
}

/// System made read-only, so that a copy into it must write in place.
inline void SystemTakesNoNewFile(const fs::path& game) {
  fs::permissions(game / "System", fs::perms(0555));
}

/// Runs a row, then checks that every folder is as it was (or the row's own `check`).
class FailedCopy : public Faults, public ::testing::WithParamInterface<Fault> {};

}  // namespace support
