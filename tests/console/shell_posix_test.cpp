// The POSIX command layer, run in a scratch folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "console/console.hpp"
#include "console/shell-posix.hpp"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

/// Every name in the scratch tree, so that a left-over temporary file shows.
std::set<std::string> tree() {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(".")) {
    names.insert(entry.path().lexically_relative(".").string());
  }
  return names;
}

struct Output {
  std::string out;
  std::string err;
};

class ShellTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sk-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(scratch_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(scratch_);
  }

  /// Runs `line` with standard output and error caught in files beside the scratch folder.
  Output run(const char* line) {
    const std::string out_path = scratch_.string() + ".out";
    const std::string err_path = scratch_.string() + ".err";
    std::fflush(stdout);
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    const int out = open(out_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    console::run_command(line);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(out);
    close(err);
    close(saved_out);
    close(saved_err);
    Output output{read_file(out_path), read_file(err_path)};
    fs::remove(out_path);
    fs::remove(err_path);
    return output;
  }

  fs::path scratch_;
  fs::path previous_;
};

TEST_F(ShellTest, CopyReplacesTheTargetKeepingModeAndTime) {
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

TEST_F(ShellTest, CopyTakesAllOfAFileWhoseSizeSaysNothing) {
  // A /proc file has the size 0 and yet content: the kernel's copy stops at once, reading goes on.
  const std::string expected = read_file("/proc/version");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(run("copy \\proc\\version v.ini").out, "1 file copied.\n");
  EXPECT_EQ(read_file("v.ini"), expected);
}

TEST_F(ShellTest, FailedCopyLeavesTheTargetAsItWas) {
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

  // A write that fails part-way, here at a file-size limit.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  const Output output = run("copy S\\a.ini D\\a.ini");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(output.err, "Cannot copy to D\\a.ini: File too large\n");
  EXPECT_EQ(read_file("D/a.ini"), "old");
  EXPECT_EQ(tree(), before);
}

TEST_F(ShellTest, CopyOntoALinkReplacesTheFileItPointsTo) {
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
  EXPECT_EQ(tree().size(), 6u);
}

TEST_F(ShellTest, NamesMatchIgnoringCaseWithTheExactNameFirst) {
  fs::create_directories("system");
  fs::create_directories("skulvane_backups");
  write_file("system/skaux.ini", "live");
  write_file("skulvane_backups/backup_skaux.ini", "old");
  EXPECT_EQ(run("copy System\\SkAux.ini Skulvane_Backups\\BACKUP_SkAux.ini").err, "");
  EXPECT_EQ(read_file("skulvane_backups/backup_skaux.ini"), "live");
  EXPECT_EQ(tree().size(), 4u);

  // An exact match wins; among inexact ones the first in byte order.
  write_file("system/SkAux.ini", "exact");
  run("copy System\\SkAux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), "exact");
  write_file("system/SKAUX.INI", "upper");
  run("copy System\\Skaux.ini out.ini");
  EXPECT_EQ(read_file("out.ini"), "upper");
}

TEST_F(ShellTest, MdCreatesOrReportsWhatIsInTheWay) {
  EXPECT_EQ(run("md Skulvane_Backups").err, "");
  EXPECT_TRUE(fs::is_directory("Skulvane_Backups"));
  write_file("Skulvane_Backups/keep", "x");
  EXPECT_EQ(run("md Skulvane_Backups").err, "Folder Skulvane_Backups already exists.\n");
  EXPECT_EQ(run("md SKULVANE_backups").err, "Folder SKULVANE_backups already exists.\n");
  write_file("Taken", "");
  EXPECT_EQ(run("md Taken").err, "Cannot create folder Taken: File exists\n");
  EXPECT_EQ(tree(), (std::set<std::string>{"Skulvane_Backups", "Skulvane_Backups/keep", "Taken"}));
}

TEST_F(ShellTest, UnknownLinesRunNothing) {
  for (const char* line : {"del Skulvane_Backups", "md", "copy a", "md a b", ""}) {
    const Output output = run(line);
    EXPECT_EQ(output.err, std::string("Not a recognised command: ") + line + "\n");
    EXPECT_TRUE(tree().empty()) << line;
  }
}

TEST_F(ShellTest, ClsAndPauseWithoutATerminal) {
  EXPECT_EQ(run("cls").out, "\f");
  // The pause takes nothing from input that is not a terminal.
  write_file("input", "4 y\n");
  const int saved_in = dup(0);
  const int in = open("input", O_RDONLY);
  dup2(in, 0);
  const Output output = run("pause");
  char rest[8] = {};
  const ssize_t got = read(0, rest, sizeof rest);
  dup2(saved_in, 0);
  close(in);
  close(saved_in);
  EXPECT_EQ(output.out, "Press any key to continue...\n");
  EXPECT_EQ(std::string(rest, got > 0 ? static_cast<std::size_t>(got) : 0), "4 y\n");
}

TEST_F(ShellTest, ARestoreRunAsRootKeepsThePlayersOwnership) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand a file to another user";
  }
  write_file("backup.ini", "new");
  write_file("live.ini", "old");
  ASSERT_EQ(chown("live.ini", 12345, 23456), 0);
  EXPECT_EQ(run("copy backup.ini live.ini").out, "1 file copied.\n");
  struct stat st;
  ASSERT_EQ(stat("live.ini", &st), 0);
  EXPECT_EQ(st.st_uid, 12345u);
  EXPECT_EQ(st.st_gid, 23456u);
}

TEST(StandardStreams, ClosedOnesAreOpenedOnTheNullDevice) {
  // In a child, so that the test's own streams stay as they are.
  const pid_t pid = fork();
  if (pid == 0) {
    close(0);
    close(1);
    close(2);
    console::open_closed_standard_streams();
    int wrong = 0;
    for (int fd = 0; fd <= 2; ++fd) {
      char target[64] = {};
      const std::string link = "/proc/self/fd/" + std::to_string(fd);
      wrong += readlink(link.c_str(), target, sizeof target - 1) < 0 ||
               std::string(target) != "/dev/null";
    }
    // Nothing opened later can take a standard stream's place.
    wrong += open("/dev/zero", O_RDONLY) <= 2;
    _exit(wrong);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ParseCommandLine, RecognisesOnlyTheFourCommands) {
  using console::CommandKind;
  struct Case {
    std::string_view line;
    CommandKind kind;
    const char* first;
    const char* second;
  };
  const Case cases[] = {
      {"cls", CommandKind::clear_screen, "", ""},
      {"PAUSE", CommandKind::pause, "", ""},
      {"md  Skulvane_Backups ", CommandKind::make_folder, "Skulvane_Backups", ""},
      {"Copy a\\b.ini\tc", CommandKind::copy, "a\\b.ini", "c"},
      {"cls now", CommandKind::unknown, "", ""},
      {"copy a b c", CommandKind::unknown, "", ""},
      {"md \"a b\"", CommandKind::unknown, "", ""},
      {"md a\nrm b", CommandKind::unknown, "", ""},
      // Refused bytes inside a word, not only at its start.
      {"md a\nb", CommandKind::unknown, "", ""},
      {"copy a\x1b[2J b", CommandKind::unknown, "", ""},
      {"md a\"b", CommandKind::unknown, "", ""},
      {"md a\x7f", CommandKind::unknown, "", ""},
      {std::string_view("md a\0b", 6), CommandKind::unknown, "", ""},
      {"  ", CommandKind::unknown, "", ""},
  };
  for (const Case& c : cases) {
    const console::Command command = console::parse_command_line(c.line);
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.first, c.first) << c.line;
    EXPECT_EQ(command.second, c.second) << c.line;
  }
}

}  // namespace
