// md and copy: folders made, files replaced only by complete copies, in a scratch folder.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>

#include "scratch_shell.hpp"

namespace {

using namespace scratch;

class DurableCopy : public ShellTest {};

TEST_F(DurableCopy, CopyReplacesTheTargetKeepingModeAndTime) {
  fs::create_directories("System");
  fs::create_directories("Backups");
  write_file("System/a.ini", "new");
  write_file("Backups/a.ini", "old");
  chmod("System/a.ini", 0640);
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}};
  utimensat(AT_FDCWD, "System/a.ini", times, 0);

  const Output output = run("copy System\\a.ini Backups\\a.ini");
  EXPECT_EQ(output.out, "1 file copied.\n");
  EXPECT_EQ(output.err, "");
  EXPECT_EQ(read_file("Backups/a.ini"), "new");
  struct stat st;
  ASSERT_EQ(stat("Backups/a.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(tree(), (std::set<std::string>{"System", "System/a.ini", "Backups", "Backups/a.ini"}));
}

TEST_F(DurableCopy, CopyTakesAllOfAFileWhoseSizeSaysNothing) {
  // A /proc file has the size 0 and yet content: the kernel's copy stops at once, reading goes on.
  const std::string expected = read_file("/proc/version");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(run("copy \\proc\\version v.ini").out, "1 file copied.\n");
  EXPECT_EQ(read_file("v.ini"), expected);
}

TEST_F(DurableCopy, FailedCopyLeavesTheTargetAsItWas) {
  fs::create_directories("S/folder.ini");
  fs::create_directories("D/folder.ini");
  write_file("S/a.ini", std::string(100000, 'n'));
  write_file("D/a.ini", "old");
  fs::create_symlink("loop.ini", "D/loop.ini");
  fs::create_symlink("../Missing/x.ini", "D/nowhere.ini");
  struct Case {
    const char* line;
    const char* report;
  };
  const Case cases[] = {
      {"copy S\\none.ini D\\a.ini", "Cannot copy S\\none.ini: No such file or directory\n"},
      {"copy S\\folder.ini D\\a.ini", "Cannot copy S\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini Missing\\a.ini",
       "Cannot copy to Missing\\a.ini: No such file or directory\n"},
      {"copy S\\a.ini D\\folder.ini", "Cannot copy to D\\folder.ini: Is a directory\n"},
      {"copy S\\a.ini D\\loop.ini",
       "Cannot copy to D\\loop.ini: Too many levels of symbolic links\n"},
      {"copy S\\a.ini D\\nowhere.ini",
       "Cannot copy to D\\nowhere.ini: No such file or directory\n"},
      {"copy D\\a.ini D\\A.INI", "Cannot copy to D\\A.INI: It is the same file as the source\n"},
  };
  const std::set<std::string> before = tree();
  for (const Case& c : cases) {
    const Output output = run(c.line);
    EXPECT_EQ(output.out, "") << c.line;
    EXPECT_EQ(output.err, c.report) << c.line;
    EXPECT_EQ(read_file("D/a.ini"), "old") << c.line;
    EXPECT_EQ(tree(), before) << c.line;
  }

  // A write that fails part-way, here at a file-size limit (SIGXFSZ ignored, as the program
  // has it from its start).
  const auto default_action = signal(SIGXFSZ, SIG_IGN);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  const Output output = run("copy S\\a.ini D\\a.ini");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, default_action);
  EXPECT_EQ(output.err, "Cannot copy to D\\a.ini: File too large\n");
  EXPECT_EQ(read_file("D/a.ini"), "old");
  EXPECT_EQ(tree(), before);
}

TEST_F(DurableCopy, CopyOntoALinkReplacesTheFileItPointsTo) {
  fs::create_directories("real");
  fs::create_directories("links");
  write_file("new.ini", "new");
  write_file("real/target.ini", "old");
  fs::create_symlink("../real/target.ini", "links/hop.ini");
  fs::create_symlink("hop.ini", "links/a.ini");
  EXPECT_EQ(run("copy new.ini links\\a.ini").out, "1 file copied.\n");
  EXPECT_TRUE(fs::is_symlink("links/a.ini"));
  EXPECT_TRUE(fs::is_symlink("links/hop.ini"));
  EXPECT_EQ(read_file("real/target.ini"), "new");
  // A file whose name is as long as names go: the temporary name beside it is short.
  const std::string long_name(245, 'n');
  write_file("real/" + long_name, "old");
  fs::create_symlink("../real/" + long_name, "links/long.ini");
  EXPECT_EQ(run("copy new.ini links\\long.ini").out, "1 file copied.\n");
  EXPECT_EQ(read_file("real/" + long_name), "new");
  EXPECT_EQ(tree().size(), 8u);
}

TEST_F(DurableCopy, MdCreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(run("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  write_file("Skulvane_Backups/keep", "x");
  EXPECT_EQ(run("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(run("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  write_file("Taken", "");
  EXPECT_EQ(run("md Taken").err, "Cannot create folder Taken: File exists\n");
  EXPECT_EQ(tree(), (std::set<std::string>{"Skulvane_Backups", "Skulvane_Backups/keep", "Taken"}));
}

TEST_F(DurableCopy, ARunAsRootLeavesThePlayersFilesAndFoldersThePlayers) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand a file to another user";
  }
  // The player's game folder, as under sudo: an existing file keeps its owner, and what the run
  // makes gets the owner of the folder it is made in.
  fs::create_directories("Game/System");
  write_file("backup.ini", "new");
  write_file("Game/System/live.ini", "old");
  ASSERT_EQ(chown("Game", 12345, 23456), 0);
  ASSERT_EQ(chown("Game/System", 12345, 23456), 0);
  ASSERT_EQ(chown("Game/System/live.ini", 777, 888), 0);
  EXPECT_EQ(run("copy backup.ini Game\\System\\live.ini").out, "1 file copied.\n");
  EXPECT_EQ(run("copy backup.ini Game\\System\\new.ini").out, "1 file copied.\n");
  EXPECT_EQ(run("md Game\\Skulvane_Backups").err, "");
  struct Case {
    const char* path;
    uid_t uid;
    gid_t gid;
  };
  for (const Case& c :
       {Case{"Game/System/live.ini", 777, 888}, Case{"Game/System/new.ini", 12345, 23456},
        Case{"Game/Skulvane_Backups", 12345, 23456}}) {
    struct stat st;
    ASSERT_EQ(stat(c.path, &st), 0) << c.path;
    EXPECT_EQ(st.st_uid, c.uid) << c.path;
    EXPECT_EQ(st.st_gid, c.gid) << c.path;
  }
}

}  // namespace
