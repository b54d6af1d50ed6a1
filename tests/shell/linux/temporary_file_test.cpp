// The temporary file beside a copy's target: leftovers of killed copies swept, and a copy never
// blocked by what holds its first-choice name (a folder, a fifo, a link, another user's file, a
// running copy's lock), nor by few descriptors or a lock that cannot be taken.
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "shell/linux/temporary_file.hpp"
#include "support/durable_copy.hpp"
#include "support/refuse.hpp"

namespace {

using namespace support;

bool FewDescriptors() {  // the standard streams and three more
  const struct rlimit limit = {6, 6};
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

class TemporaryFile : public DurableCopy {};

TEST_F(TemporaryFile, LeftoversGoAndNothingAtItsNameBlocksACopy) {
  WriteFile("new.ini", kNew);
  // Temporary files that killed copies left, and the player's look-alike beside them.
  const std::string leftover = linux_shell::temporary_name_for("left.ini");
  WriteFile(leftover, "half");
  WriteFile(linux_shell::temporary_name_for("unlockable.ini"), "half");
  WriteFile(".sk-backup-abcdef", "mine");
  WriteFile(".sk-backup-0123456789abcdef", "half");  // a killed copy's, under a fresh name
  // Anything at a copy's first-choice temporary name: the copy takes another name at once.
  const std::string held[] = {linux_shell::temporary_name_for("held-by-a-folder.ini"),
                              linux_shell::temporary_name_for("held-by-a-fifo.ini"),
                              linux_shell::temporary_name_for("held-by-a-link.ini"),
                              linux_shell::temporary_name_for("held-by-another-user.ini"),
                              linux_shell::temporary_name_for("held-by-a-lock.ini")};
  fs::create_directory(held[0]);
  mkfifo(held[1].c_str(), 0600);
  fs::create_symlink("new.ini", held[2]);
  WriteFile(held[3], "another user's");
  const bool another_users = HandTo(held[3], 777, 777);
  WriteFile(held[4], "a running copy's");
  const int lock = open(held[4].c_str(), O_RDONLY);
  ASSERT_EQ(flock(lock, LOCK_SH), 0);
  enum { anyone, another_users_file };
  const Rows rows = RunRows(
      {
          {"left.ini", FewDescriptors, anyone, "", kNew},
          // A lock that cannot be taken means busy: that leftover stays.
          {"unlockable.ini", [] { return Refuse({__NR_flock}, ENOLCK); }, anyone, "", kNew},
          {"held-by-a-folder.ini", nullptr, anyone, "", kNew},
          {"held-by-a-fifo.ini", nullptr, anyone, "", kNew},
          {"held-by-a-link.ini", nullptr, anyone, "", kNew},
          {"held-by-another-user.ini", nullptr, another_users_file, "", kNew},
          {"held-by-a-lock.ini", nullptr, anyone, "", kNew},
      },
      {{true, ""}, {another_users, "cannot hand a file to another user here"}},
      [&](const char* target) { EXPECT_FALSE(fs::exists(leftover)) << target; });
  close(lock);
  std::set<std::string> names = {"new.ini",     ".sk-backup-abcdef",
                                 "left.ini",    "unlockable.ini",
                                 held[0] + "/", held[1],
                                 held[2],       held[3],
                                 held[4]};
  for (const char* target : {"held-by-a-folder.ini", "held-by-a-fifo.ini", "held-by-a-link.ini",
                             "held-by-another-user.ini", "held-by-a-lock.ini"}) {
    if (another_users || std::string(target) != "held-by-another-user.ini") {
      names.insert(target);  // each the copy made
    }
  }
  if (!another_users) {
    names.erase(held[3]);  // the tester's own leftover then, which the sweep of leftovers removes
  }
  // Leftovers busy for one copy, or under fresh names, go with a copy whose first name is taken.
  EXPECT_EQ(Names(), names);
  if (rows.AnySkipped()) {
    GTEST_SKIP() << rows.Report();
  }
}

}  // namespace
