// The built program at a real (pseudo-)terminal: each key is typed only once the prompt it
// answers is on the screen, and everything the terminal shows, echo included, is compared in
// order. The program's texts come from the session cases of tests/transcripts, never from the
// program's sources.

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/pty_session.hpp"
#include "support/scratch.hpp"
#include "support/transcripts.hpp"

namespace {

namespace fs = std::filesystem;
using namespace support;

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
  ASSERT_NE(status, -1) << "the program did not end within " << kDeadline.count() << " s";
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
