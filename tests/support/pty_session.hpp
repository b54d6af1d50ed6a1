// The built program started on a fresh pseudo-terminal, as a shell in it would start it, and
// what the terminal shows read back, for the tests at a real terminal.
#pragma once

#include <poll.h>
#include <termios.h>
#if __has_include(<pty.h>)
#include <pty.h>
#include <utmp.h>
#else
#include <util.h>  // openpty and login_tty on the BSDs and macOS
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "support/launch.hpp"  // also the POSIX calls, <chrono>, <filesystem>, <string>

namespace support {

std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

/// How the shell starts the program.
enum class How { kInTheForeground, kInTheBackground, kWithNonBlockingInput };

/// The program started on a fresh pseudo-terminal. The test keeps the terminal's own side open
/// too, so that its modes can still be read once the program has ended.
struct PtySession {
  pid_t pid = -1;
  int master = -1;
  int slave = -1;
  termios modes_at_start{};
  std::string output;    // everything the terminal showed so far
  std::size_t seen = 0;  // how much of it has been matched

  ~PtySession() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : {master, slave}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }

  bool Start(const fs::path& dir, How how) {
    winsize size{};
    size.ws_row = 25;
    size.ws_col = 80;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0 ||
        tcgetattr(slave, &modes_at_start) != 0) {
      return false;
    }
    pid = fork();
    if (pid == 0) {
      // login_tty closes the slave descriptor; the parent keeps its own.
      close(master);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (login_tty(slave) != 0 || chdir(dir.c_str()) != 0) {
        _exit(126);
      }
      RunAsJob(how);
    }
    return pid > 0;
  }

  /// In the child, the session's leader: runs the program as a job, as a shell with job control
  /// does, and ends as the job ended. At each stop it shows the terminal's echo as it finds it,
  /// puts its own modes back and brings the job to the foreground again at once (fg).
  [[noreturn]] static void RunAsJob(How how) {
    for (int stop : {SIGTSTP, SIGTTIN, SIGTTOU}) {
      signal(stop, SIG_IGN);
    }
    termios shell_modes{};
    tcgetattr(STDIN_FILENO, &shell_modes);
    if (how == How::kInTheBackground) {
      // The shell's line editor has the terminal meanwhile.
      termios editor = shell_modes;
      editor.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      tcsetattr(STDIN_FILENO, TCSANOW, &editor);
    } else if (how == How::kWithNonBlockingInput) {
      fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    }
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      if (how != How::kInTheBackground) {
        tcsetpgrp(STDIN_FILENO, getpid());
      }
      for (int stop : {SIGTSTP, SIGTTIN, SIGTTOU, SIGINT}) {
        signal(stop, SIG_DFL);
      }
      execl(SK_BACKUP_EXE, SK_BACKUP_EXE, static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(job, job);
    if (how != How::kInTheBackground) {
      tcsetpgrp(STDIN_FILENO, job);
    }
    int status = 0;
    while (waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
      tcsetpgrp(STDIN_FILENO, getpgrp());
      termios found{};
      tcgetattr(STDIN_FILENO, &found);
      const std::string note =
          (found.c_lflag & ECHO) != 0 ? "[stopped, echo on]\n" : "[stopped, echo off]\n";
      static_cast<void>(write(STDOUT_FILENO, note.data(), note.size()));
      tcsetattr(STDIN_FILENO, TCSANOW, &shell_modes);
      tcsetpgrp(STDIN_FILENO, job);
      kill(-job, SIGCONT);
    }
    if (WIFSIGNALED(status)) {
      signal(WTERMSIG(status), SIG_DFL);
      kill(getpid(), WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
  }

  /// Sends `signal_number` to the terminal's foreground job, as a key of the terminal would.
  void Signal(int signal_number) {
    ASSERT_EQ(kill(-tcgetpgrp(master), signal_number), 0);
  }

  /// Reads what the terminal shows for up to `ms` milliseconds, or until something came.
  void Pump(int ms) {
    pollfd wanted{master, POLLIN, 0};
    if (poll(&wanted, 1, ms) > 0) {
      char buffer[4096];
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got > 0) {
        output.append(buffer, static_cast<std::size_t>(got));
      }
    }
  }

  /// The terminal shows exactly `text` next, within the deadline.
  ::testing::AssertionResult Shows(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    // Stops early once what came differs from the start of `text`.
    while (output.size() < seen + text.size() && std::chrono::steady_clock::now() < deadline &&
           text.compare(0, output.size() - seen, output, seen) == 0) {
      Pump(50);
    }
    const std::string got = output.substr(seen, text.size());
    if (got != text) {
      return ::testing::AssertionFailure() << "expected next: \"" << Visible(text)
                                           << "\"\n     but got: \"" << Visible(got) << "\"";
    }
    seen += text.size();
    return ::testing::AssertionSuccess();
  }

  /// Nothing more shows for a while: the program is waiting.
  ::testing::AssertionResult StaysQuiet() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while (std::chrono::steady_clock::now() < until) {
      Pump(10);
    }
    if (output.size() != seen) {
      return ::testing::AssertionFailure()
             << "the program went on without a key: \"" << Visible(output.substr(seen)) << "\"";
    }
    return ::testing::AssertionSuccess();
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  /// Waits for the program to end, reading the terminal meanwhile; -1 after the deadline.
  int Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    int status = -1;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      }
      Pump(10);
    }
    pid = -1;
    Pump(50);
    return status;
  }
};

}  // namespace support
