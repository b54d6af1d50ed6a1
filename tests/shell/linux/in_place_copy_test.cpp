// The copy in place, where the folder takes no new file of the player's: it writes the file
// itself only where no one else gains the bytes and no other name changes with it, and a write
// cut short puts the old bytes back.
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>

#include "support/durable_copy.hpp"

namespace {

using namespace support;

bool SmallFileSizeLimit() {  // a write stops part-way, as on a full disk
  const struct rlimit limit = {64, 64};
  return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

class InPlaceCopy : public DurableCopy {};

TEST_F(InPlaceCopy, WritesOnlyWhatNoOneElseGainsAndPutsTheOldBytesBackOnAFailure) {
  const bool player = PlayersStateFolder();
  // A folder that takes no file of the player's around files the player may or may not write,
  // one of them with a second name.
  fs::create_directories("shared");
  for (const char* name : {"writable.ini", "locked.ini", "big.ini", "linked.ini"}) {
    WriteFile(fs::path("shared") / name, "old");
    chmod((fs::path("shared") / name).c_str(), std::string(name) == "locked.ini" ? 0644 : 0666);
  }
  fs::create_hard_link("shared/linked.ini", "shared/linked-too.ini");
  // A sticky folder holding another user's file that the player may write.
  fs::create_directories("sticky");
  chmod("sticky", 01777);
  WriteFile("sticky/other.ini", "old");
  chmod("sticky/other.ini", 0666);
  const bool handed = player && HandTo("sticky/other.ini", 777, 777);
  enum { anyone, as_player };
  const Rows rows = RunRows(
      {
          {"shared/writable.ini", BecomePlayer, as_player, "", kNew},
          // Another user's file is not written in place: its owner would read the bytes.
          {"sticky/other.ini", BecomePlayer, as_player,
           "Cannot copy to sticky/other.ini: it belongs to user 777, and the folder takes no new "
           "file: written in place, it would give that user the bytes; it is left as it was\n",
           "old"},
          {"shared/locked.ini", BecomePlayer, as_player,
           "Cannot copy to shared/locked.ini: Permission denied; shared belongs to root: start "
           "sk-backup with sudo (it then acts as root, who owns this folder), or ask root to let "
           "you write it\n",
           "old"},
          // A write cut short puts the old bytes back; other names are not written through.
          {"shared/big.ini", [] { return BecomePlayer() && SmallFileSizeLimit(); }, as_player,
           "Cannot copy to shared/big.ini: File too large\n", "old"},
          {"shared/linked.ini", BecomePlayer, as_player,
           "Cannot copy to shared/linked.ini: it has other names (hard links), which would change "
           "with it; the folder takes no new file, so it is left as it was\n",
           "old"},
      },
      {{true, ""},
       {handed, "needs root, to run as a player and to hand the player's files to the player"}});
  EXPECT_EQ(ReadFile("shared/linked-too.ini"), "old");
  std::set<std::string> names = {
      "new.ini",           "state/",          "shared/",           "shared/writable.ini",
      "shared/locked.ini", "shared/big.ini",  "shared/linked.ini", "shared/linked-too.ini",
      "sticky/",           "sticky/other.ini"};
  if (handed) {
    names.insert("state/sk-backup/");  // where the player's copies in place kept the old bytes
  }
  EXPECT_EQ(Names(), names);
  if (rows.AnySkipped()) {
    GTEST_SKIP() << rows.Report();
  }
}

}  // namespace
