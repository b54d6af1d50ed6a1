// md and copy: folders made, files replaced only by complete copies, in a scratch folder.
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <set>
#include <string>

#include "console/posix/temporary_file.hpp"
#include "scratch_shell.hpp"

namespace {

using namespace scratch;

class DurableCopy : public ShellTest {};

TEST_F(DurableCopy, CopyReplacesTheTargetWithTheSourcesTimeAndTheBitsCpGives) {
  fs::create_directories("System");
  fs::create_directories("Backups");
  // The player's own files, named like temporary files of old, are not the program's to remove.
  WriteFile("System/.sk-backup-notes1", "mine");
  WriteFile("Backups/.sk-backup-2024v1", "mine");
  const mode_t mask = umask(0);
  umask(mask);
  struct Case {
    mode_t source_bits;
    const char* target;
    mode_t target_bits;  // 0: no target yet
    mode_t expected;     // a target that existed keeps its bits; a new one: the source's less umask
  };
  for (const Case& c :
       {Case{0640, "Backups/a.ini", 0604, 0604}, Case{0777, "Backups/new.ini", 0, 0777 & ~mask}}) {
    WriteFile("System/a.ini", "new");
    chmod("System/a.ini", c.source_bits);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}};
    utimensat(AT_FDCWD, "System/a.ini", times, 0);
    if (c.target_bits != 0) {
      WriteFile(c.target, "old");
      chmod(c.target, c.target_bits);
    }
    const Output output = RunLine((std::string("copy System\\a.ini ") + c.target).c_str());
    EXPECT_EQ(output.out + output.err, "1 file copied.\n");
    EXPECT_EQ(ReadFile(c.target), "new");
    struct stat st;
    ASSERT_EQ(stat(c.target, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << c.target;
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"System/", "System/a.ini", "System/.sk-backup-notes1",
                                            "Backups/", "Backups/a.ini", "Backups/new.ini",
                                            "Backups/.sk-backup-2024v1"}));
}

TEST_F(DurableCopy, CopyTakesAllOfAFileWhoseSizeSaysNothing) {
  // A /proc file has the size 0 and yet content: the kernel's copy stops at once, reading goes on.
  const std::string expected = ReadFile("/proc/version");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(RunLine("copy \\proc\\version v.ini").out, "1 file copied.\n");
  EXPECT_EQ(ReadFile("v.ini"), expected);
}

TEST_F(DurableCopy, FailedCopyLeavesTheTargetAsItWas) {
  fs::create_directories("S/folder.ini");
  fs::create_directories("D/folder.ini");
  WriteFile("S/a.ini", std::string(100000, 'n'));
  WriteFile("D/a.ini", "old");
  fs::create_symlink("loop.ini", "D/loop.ini");
  fs::create_symlink("gone.ini", "D/nowhere.ini");
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
       "Cannot copy to D\\nowhere.ini: Not writing through a link to nothing\n"},
      {"copy D\\a.ini D\\A.INI", "Cannot copy to D\\A.INI: It is the same file as the source\n"},
  };
  const std::set<std::string> before = Names();
  for (const Case& c : cases) {
    const Output output = RunLine(c.line);
    EXPECT_EQ(output.out, "") << c.line;
    EXPECT_EQ(output.err, c.report) << c.line;
    EXPECT_EQ(ReadFile("D/a.ini"), "old") << c.line;
    EXPECT_EQ(Names(), before) << c.line;
  }

  // A write that fails part-way, here at a file-size limit (SIGXFSZ ignored, as the program
  // has it from its start).
  const auto default_action = signal(SIGXFSZ, SIG_IGN);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  const Output output = RunLine("copy S\\a.ini D\\a.ini");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, default_action);
  EXPECT_EQ(output.err, "Cannot copy to D\\a.ini: File too large\n");
  EXPECT_EQ(ReadFile("D/a.ini"), "old");
  EXPECT_EQ(Names(), before);
}

TEST_F(DurableCopy, CopyOntoALinkReplacesTheFileItPointsTo) {
  fs::create_directories("real");
  fs::create_directories("links");
  WriteFile("new.ini", "new");
  WriteFile("real/target.ini", "old");
  fs::create_symlink("../real/target.ini", "links/hop.ini");
  fs::create_symlink("hop.ini", "links/a.ini");
  EXPECT_EQ(RunLine("copy new.ini links\\a.ini").out, "1 file copied.\n");
  EXPECT_TRUE(fs::is_symlink("links/a.ini"));
  EXPECT_TRUE(fs::is_symlink("links/hop.ini"));
  EXPECT_EQ(ReadFile("real/target.ini"), "new");
  // A file whose name is as long as names go: the temporary name beside it is short.
  const std::string long_name(245, 'n');
  WriteFile("real/" + long_name, "old");
  fs::create_symlink("../real/" + long_name, "links/long.ini");
  EXPECT_EQ(RunLine("copy new.ini links\\long.ini").out, "1 file copied.\n");
  EXPECT_EQ(ReadFile("real/" + long_name), "new");
  // Nothing is left beside the targets, the links stay links, and no file is made in their place.
  EXPECT_EQ(Names(),
            (std::set<std::string>{"new.ini", "real/", "real/target.ini", "real/" + long_name,
                                   "links/", "links/hop.ini", "links/a.ini", "links/long.ini"}));
}

TEST_F(DurableCopy, MdCreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  WriteFile("Skulvane_Backups/keep", "x");
  EXPECT_EQ(RunLine("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(RunLine("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  WriteFile("Taken", "");
  EXPECT_EQ(RunLine("md Taken").err, "Cannot create folder Taken: File exists\n");
  EXPECT_EQ(Names(),
            (std::set<std::string>{"Skulvane_Backups/", "Skulvane_Backups/keep", "Taken"}));
}

TEST_F(DurableCopy, AReplacedFileKeepsItsOwnerWhereTheSystemAllows) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand a file to another user";
  }
  WriteFile("backup.ini", "new");
  WriteFile("live.ini", "old");
  ASSERT_EQ(chown("live.ini", 777, 888), 0);
  EXPECT_EQ(RunLine("copy backup.ini live.ini").out, "1 file copied.\n");
  struct stat st;
  ASSERT_EQ(stat("live.ini", &st), 0);
  EXPECT_EQ(st.st_uid, 777u);
  EXPECT_EQ(st.st_gid, 888u);
}

// What a child does before its copy.
bool BecomePlayer() {
  return setgroups(0, nullptr) == 0 && setgid(12345) == 0 && setuid(12345) == 0;
}

bool RefuseChmod() {  // as a FUSE mount of FAT refuses it
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchmod, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchmodat, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const struct sock_fprog program = {std::size(filter), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

bool FewDescriptors() {  // the standard streams and three more
  const struct rlimit limit = {6, 6};
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TEST_F(DurableCopy, CopyWorksWhereCpWorks) {
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(".", 0755), 0);
  WriteFile("new.ini", "new");
  // A folder that takes no file of the player's around files the player may or may not write.
  fs::create_directories("shared");
  WriteFile("shared/writable.ini", "old");
  WriteFile("shared/locked.ini", "old");
  chmod("shared/writable.ini", 0666);
  // A sticky folder holding another user's file that the player may write.
  fs::create_directories("sticky");
  chmod("sticky", 01777);
  WriteFile("sticky/other.ini", "old");
  chmod("sticky/other.ini", 0666);
  if (root) {
    ASSERT_EQ(chown("sticky/other.ini", 777, 777), 0);
  }
  // A temporary file that a killed copy left, and the player's look-alike beside it.
  const std::string leftover = console::temporary_name_for("left.ini");
  WriteFile(leftover, "half");
  WriteFile(".sk-backup-abcdef", "mine");
  struct Case {
    const char* target;
    bool (*prepare)();
    bool as_player;
    const char* report;
    const char* content;
  };
  const Case cases[] = {
      {"left.ini", FewDescriptors, false, "", "new"},
      {"shared/writable.ini", BecomePlayer, true, "", "new"},
      {"sticky/other.ini", BecomePlayer, true, "", "new"},
      {"shared/locked.ini", BecomePlayer, true,
       "Cannot copy to shared/locked.ini: Permission denied\n", "old"},
      {"chmod.ini", RefuseChmod, false, "", "new"},
  };
  for (const Case& c : cases) {
    if (c.as_player && !root) {
      continue;
    }
    const Output output = RunLine((std::string("copy new.ini ") + c.target).c_str(), c.prepare);
    EXPECT_EQ(output.err, c.report) << c.target;
    EXPECT_EQ(ReadFile(c.target), c.content) << c.target;
    EXPECT_FALSE(fs::exists(leftover)) << c.target;
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"new.ini", "shared/", "shared/writable.ini",
                                            "shared/locked.ini", "sticky/", "sticky/other.ini",
                                            ".sk-backup-abcdef", "chmod.ini", "left.ini"}));
}

}  // namespace
