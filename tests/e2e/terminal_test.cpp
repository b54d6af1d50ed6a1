// The built program at a real (pseudo-)terminal: each key is typed only once the prompt it
// answers is on the screen, and everything the terminal shows, echo included, is compared in
// order. The program's texts come from the session cases of tests/transcripts, never from the
// program's sources.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h>
#include <utmp.h>
#else
#include <util.h>  // openpty and login_tty on the BSDs and macOS
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What the terminal shows: the program's line feeds come out as CR LF.
std::string Screen(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

const std::string kCls = "\x1b[H\x1b[2J\x1b[3J";
const std::string kPrompt = "Press any key to continue...";
const std::string kKeyTaken = "\r\n";  // the pause ends its line, and shows no key
// The program's texts, from the session case where the player leaves restore-all answering no:
// the disclaimer, the menu and the question.
const std::vector<std::string> kTexts =
    support::Texts(support::SessionCaseNamed("RestoreAllEndOfInputInQuestion").transcript);
const std::string kDisclaimer = Screen(kTexts.at(0));
const std::string kMenu = Screen(kTexts.at(1));
const std::string kRestoreAllAsk = Screen(kTexts.at(2));

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
  static constexpr auto kDeadline = std::chrono::seconds(10);

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
    const auto deadline = Clock::now() + kDeadline;
    // Stops early once what came differs from the start of `text`.
    while (output.size() < seen + text.size() && Clock::now() < deadline &&
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
    const auto until = Clock::now() + std::chrono::milliseconds(150);
    while (Clock::now() < until) {
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
    const auto deadline = Clock::now() + kDeadline;
    int status = -1;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        return -1;
      }
      Pump(10);
    }
    pid = -1;
    Pump(50);
    return status;
  }
};

/// How a step answers what the terminal shows.
enum class Answer {
  kLine,       // typed as on a line
  kKey,        // a pause: it takes single keys without echo by the time its prompt shows,
               // and waits there with nothing more showing
  kKeyAtOnce,  // a pause, answered the moment its prompt shows
};

/// One exchange: what the terminal shows next, then the keys typed in answer to it, or a signal
/// sent to the program instead.
struct Step {
  std::string shows;
  std::string type;  // sent as one write, as a terminal sends one key's bytes
  Answer answer = Answer::kLine;
  int signal = 0;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  int exit_signal;  // 0: the program exits with status 0
  How how = How::kInTheForeground;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const std::string kFirstPause = kCls + kDisclaimer + kPrompt;
const std::string kMenuAfterKey = kKeyTaken + kCls + kMenu;

/// `steps`, then the end of a run: the menu after a key, X, and the last pause taking its key.
std::vector<Step> ThenExit(std::vector<Step> steps) {
  steps.insert(steps.end(),
               {{kMenuAfterKey, "x\n"}, {"x\r\n" + kPrompt, "k", Answer::kKey}, {kKeyTaken, ""}});
  return steps;
}

const Case kCases[] = {
    {"ClsAndAPauseThatTakesOneKeyWithoutEnterOrEcho", ThenExit({{kFirstPause, "q", Answer::kKey}}),
     0},
    // What else was typed at the pause would turn up unseen in front of the next answer.
    {"KeysTypedAtAPauseAfterItsKeyAreDropped", ThenExit({{kFirstPause, "ab", Answer::kKey}}), 0},
    {"CtrlSAndCtrlQAreKeysAtAPause",
     {{kFirstPause, "\x13", Answer::kKey},
      {kMenuAfterKey, "x\n"},
      {"x\r\n" + kPrompt, "\x11", Answer::kKey},
      {kKeyTaken, ""}},
     0},
    {"CtrlZAtAPauseStopsWithTheTerminalPutBackAndThePauseWaitsAgain",
     ThenExit({{kFirstPause, "\x1a", Answer::kKey},
               {"\r\n[stopped, echo on]\r\n" + kPrompt, "q", Answer::kKey}}),
     0},
    {"SigtstpAtAPauseStopsWithTheTerminalPutBack",
     ThenExit({{kFirstPause, "", Answer::kKey, SIGTSTP},
               {"\r\n[stopped, echo on]\r\n" + kPrompt, "q", Answer::kKey}}),
     0},
    {"SigpipeAtAPauseEndsTheProgramWithTheTerminalPutBack",
     {{kFirstPause, "", Answer::kKey, SIGPIPE}, {kKeyTaken, ""}},
     SIGPIPE},
    {"Sigusr1AtAPauseEndsTheProgramWithTheTerminalPutBack",
     {{kFirstPause, "", Answer::kKey, SIGUSR1}, {kKeyTaken, ""}},
     SIGUSR1},
    // The pause takes the terminal only once in the foreground, and puts back the modes it has
    // there, not those of the shell's line editor.
    {"StartedInTheBackgroundThenBroughtToTheForeground",
     ThenExit({{kCls + kDisclaimer + "[stopped, echo off]\r\n" + kPrompt, "q", Answer::kKey}}), 0,
     How::kInTheBackground},
    {"InputLeftNonBlockingIsWaitedFor", ThenExit({{kFirstPause, "q", Answer::kKey}}), 0,
     How::kWithNonBlockingInput},
    {"WordsTypedAheadSurviveEachPause",
     {{kFirstPause, " ", Answer::kKey},
      {kMenuAfterKey, "3 n x\n"},
      {"3 n x\r\n" + kCls + kRestoreAllAsk + kPrompt, "a", Answer::kKey},
      {kMenuAfterKey + kPrompt, "b", Answer::kKey},
      {kKeyTaken, ""}},
     0},
    {"CtrlCAtAPauseEndsTheProgram", {{kFirstPause, "\x03", Answer::kKey}, {kKeyTaken, ""}}, SIGINT},
    {"CtrlCAtALaterPauseEndsTheProgram",
     {{kFirstPause, "q", Answer::kKey},
      {kMenuAfterKey, "3\n"},
      {"3\r\n" + kCls + kRestoreAllAsk, "n\n"},
      {"n\r\n" + kPrompt, "\x03", Answer::kKey},
      {kKeyTaken, ""}},
     SIGINT},
    {"EndOfInputAtTheMenuEndsTheRun",
     {{kFirstPause, "q", Answer::kKey},
      {kMenuAfterKey, "\x04"},
      {kPrompt, "q", Answer::kKey},
      {kKeyTaken, ""}},
     0},
    {"KeysTypedTheMomentEachPromptShows",
     {{kFirstPause, "q", Answer::kKeyAtOnce},
      {kMenuAfterKey, "3 n\n"},
      {"3 n\r\n" + kCls + kRestoreAllAsk + kPrompt, "\x1b[B", Answer::kKeyAtOnce},
      {kMenuAfterKey, "x\n"},
      {"x\r\n" + kPrompt, "\x03", Answer::kKeyAtOnce},
      {kKeyTaken, ""}},
     SIGINT},
    // A key's bytes left behind would join the next word and make it an invalid choice.
    {"AnArrowKeyAndAUtf8LetterEndAPauseWhole",
     ThenExit({{kFirstPause, "\xc3\xa9", Answer::kKey},
               {kMenuAfterKey, "3\n"},
               {"3\r\n" + kCls + kRestoreAllAsk, "n\n"},
               {"n\r\n" + kPrompt, "\x1b[A", Answer::kKey}}),
     0},
};

class AtATerminal : public support::ScratchTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directory(root_ / "System");
  }
};

TEST_P(AtATerminal, Dialogue) {
  const Case& c = GetParam();
  PtySession session;
  ASSERT_TRUE(session.Start(root_, c.how));
  for (const Step& step : c.steps) {
    ASSERT_TRUE(session.Shows(step.shows));
    if (step.answer != Answer::kLine) {
      termios modes{};
      ASSERT_EQ(tcgetattr(session.slave, &modes), 0);
      EXPECT_EQ(modes.c_lflag & (ICANON | ECHO), 0u) << "a key typed now would be echoed";
    }
    if (step.answer == Answer::kKey) {
      ASSERT_TRUE(session.StaysQuiet());
    }
    if (!step.type.empty()) {
      session.Type(step.type);
    }
    if (step.signal != 0) {
      session.Signal(step.signal);
    }
  }
  const int status = session.Finish();
  ASSERT_NE(status, -1) << "the program did not end within 10 s";
  EXPECT_EQ(Visible(session.output.substr(session.seen)), "") << "shown after the last step";
  if (c.exit_signal == 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.exit_signal)
        << "wait status " << status;
  }
  termios modes_at_end{};
  ASSERT_EQ(tcgetattr(session.slave, &modes_at_end), 0);
  EXPECT_TRUE(SameModes(session.modes_at_start, modes_at_end));
}

INSTANTIATE_TEST_SUITE_P(Keys, AtATerminal, ::testing::ValuesIn(kCases), support::CaseName<Case>);

}  // namespace
