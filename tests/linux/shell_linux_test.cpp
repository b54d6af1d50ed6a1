// The Linux command layer's dispatch: lines it does not know, the terminal's commands where
// there is no terminal, and the standard streams at start.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/linux/user_database.hpp"
#include "support/scratch_shell.hpp"

namespace {

using namespace std::string_literals;

using namespace support;

class Dispatch : public ShellTest {};

TEST_F(Dispatch, UnknownLinesRunNothing) {
  for (const char* line : {"del Skulvane_Backups", "md", "copy a", "md a b", ""}) {
    const Output output = RunLine(line);
    EXPECT_EQ(output.err, std::string("Not a recognised command: ") + line + "\n");
    EXPECT_TRUE(Names().empty()) << line;
  }
}

TEST_F(Dispatch, ClsAndPauseWithoutATerminal) {
  EXPECT_EQ(RunLine("cls").out, "\f");
  // The pause takes nothing from input that is not a terminal.
  WriteFile("input", "4 y\n");
  const int saved_in = dup(0);
  const int in = open("input", O_RDONLY);
  dup2(in, 0);
  const Output output = RunLine("pause");
  char rest[8] = {};
  const ssize_t got = read(0, rest, sizeof rest);
  dup2(saved_in, 0);
  close(in);
  close(saved_in);
  EXPECT_EQ(output.out, "Press any key to continue...\n");
  EXPECT_EQ(std::string(rest, got > 0 ? static_cast<std::size_t>(got) : 0), "4 y\n");
}

TEST(StandardStreams, ClosedOnesAreOpenedOnTheNullDevice) {
  // In a child, so that the test's own streams stay as they are.
  const pid_t pid = fork();
  if (pid == 0) {
    close(0);
    close(1);
    close(2);
    shell::open_closed_standard_streams();
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

TEST_F(Dispatch, ARunAsRootTakesTheOwnersGroupsFromTheFilesAsSudoDoes) {
  WriteFile("passwd",
            "# comment\n+nis\nroot:x:0:0::/root:/bin/sh\nalice:x:1001:1001::/h:/bin/sh\n"
            "bob:x:1002:100::/h:/bin/sh\nbroken:x:10x3:1::/h:/bin/sh\n");
  WriteFile("group",
            "alice:x:1001:\ngames:x:60:bob,alice\nusers:x:100:alice\n"
            "malice:x:70:malice,alicex\nplayers:x:4243:alice,bob\n"
            // Lines that glibc reads as naming other members, or as no entry at all.
            "sk-h1:x:5101:alice:\nsk-h2:x:5102:alice:x:y\n  #x:x:5103:alice\n"
            "sk-h4:x:5104:bob\0,alice\n:x:5105:alice\n"s);
  struct Case {
    uid_t uid;
    bool found;
    std::vector<gid_t> groups;  // primary first, each once
  };
  for (const Case& c :
       {Case{1001, true, {1001, 60, 100, 4243}}, Case{1002, true, {100, 60, 4243, 5104}},
        Case{1003, false, {}}, Case{1004, false, {}}}) {
    linux_shell::Account account;
    EXPECT_EQ(linux_shell::find_account(c.uid, account, "passwd"), c.found) << c.uid;
    if (c.found) {
      EXPECT_EQ(linux_shell::groups_of(account, "group"), c.groups) << c.uid;
    }
  }
  // A private group: the user's primary group, named as the user, no one else's.
  WriteFile("group", "alice:x:1001:\nusers:x:100:\nbob:x:1002:alice\n");
  EXPECT_TRUE(linux_shell::is_private_group(1001, 1001, "passwd", "group"));
  EXPECT_FALSE(linux_shell::is_private_group(1002, 100, "passwd", "group"));  // named otherwise
  WriteFile("passwd",
            "alice:x:1001:1001::/h:/bin/sh\nbob:x:1002:1002::/h:/bin/sh\n"
            "carol:x:1003:1002::/h:/bin/sh\n");
  EXPECT_FALSE(linux_shell::is_private_group(1002, 1002, "passwd", "group"));  // a member, carol's
  std::string many;  // more groups than a process can have: the first ones, as sudo takes them
  for (int id = 100000; id < 170000; ++id) {
    many += "g:x:" + std::to_string(id) + ":alice\n";
  }
  WriteFile("group", many);
  EXPECT_EQ(linux_shell::groups_of({"alice", 1001}, "group").size(), linux_shell::kMostGroups);
}

}  // namespace
