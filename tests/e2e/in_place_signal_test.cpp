// The copy in place, which must write into the file itself: a signal after its first write
// waits until the file is whole, a kill leaves the old bytes on disk in a recovery copy, and a
// full copy-on-write volume is reported damaged only where the file really is.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/faults.hpp"
#include "support/tracer.hpp"

namespace {

using namespace support;

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

}  // namespace
