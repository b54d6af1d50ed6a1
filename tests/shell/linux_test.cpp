// The Linux command layer's dispatch: lines it does not know, the terminal's commands where
// there is no terminal, and the standard streams at start.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
