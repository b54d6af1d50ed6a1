// Whole sessions of the Windows program, run as a player would pipe them: in a scratch game
// folder, with the scripted input waiting in a pipe, standard output and standard error merged in
// another, and the system's command interpreter (cmd, or Wine's) carrying out cls, pause, md and
// copy. The expected transcripts are the cases of tests/transcripts, never taken from the
// program's sources. The command marker stands in as COMSPEC and brackets each
// command line in the transcript: the program's texts and its command lines are compared byte for
// byte, while what the interpreter writes is its own and left out; the files on disk show what md
// and copy did.
//
// The interpreter's pause reads its key from the program's standard input. The pause at start-up
// runs before the program reads anything and takes the first byte of the input; the program's
// first read then takes the rest into its buffer, and every later pause finds the input ended.

#include <windows.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session.hpp"

namespace session {
namespace {

// A command line as the command marker shows it, without what the interpreter wrote.
std::string Command(const std::string& line) {
  return "\x01" + line + "\x02\x03";
}
/// A program built beside this one.
fs::path ProgramPath(const char* name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(std::wstring(self, length)).parent_path() / name;
}

/// A pipe read to its end into a string, on a thread of its own.
struct Drain {
  HANDLE pipe;
  std::string* text;
};

DWORD WINAPI DrainPipe(void* argument) {
  Drain* drain = static_cast<Drain*>(argument);
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(drain->pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    drain->text->append(buffer, count);
  }
  return 0;
}

/// What one run of the program left.
struct Outcome {
  std::string output;  ///< standard output and standard error as they came, CR LF and all
  DWORD exit_code = 0;
  bool finished = false;  ///< false: still running after the time limit, and ended by force
};

/// Starts the program in `dir` with `input` waiting in a pipe that then ends (with no standard
/// input at all when `closed_input`), collects what it writes, and ends it, and whatever it
/// started, when it runs for more than 60 s.
Outcome RunProgram(const fs::path& dir, const std::string& input, bool closed_input = false,
                   const std::vector<std::string>& args = {}) {
  Outcome run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE in_read = nullptr;
  HANDLE in_write = nullptr;
  HANDLE out_read = nullptr;
  HANDLE out_write = nullptr;
  if (!CreatePipe(&in_read, &in_write, &inherit, 1 << 16) ||
      !CreatePipe(&out_read, &out_write, &inherit, 1 << 16)) {
    ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
    return run;
  }
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  if (!input.empty()) {
    EXPECT_TRUE(
        WriteFile(in_write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr) &&
        written == input.size());
  }
  CloseHandle(in_write);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = closed_input ? nullptr : in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = out_write;
  const fs::path program = ProgramPath(SK_BACKUP_EXE_NAME);
  std::wstring command_line = L"\"" + program.wstring() + L"\"";
  for (const std::string& arg : args) {
    command_line += L" " + fs::path(arg).wstring();
  }
  // A job holds the program and the interpreters it starts, so that all of them can be ended.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION process = {};
  const bool started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, dir.c_str(), &startup, &process);
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (!started) {
    ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
    CloseHandle(out_read);
    CloseHandle(job);
    return run;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);

  // A thread of Windows' own: the toolchain's win32 thread model has no std::thread.
  Drain drain{out_read, &run.output};
  HANDLE reader = CreateThread(nullptr, 0, DrainPipe, &drain, 0, nullptr);
  run.finished = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  if (!run.finished) {
    TerminateJobObject(job, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(job);  // ends anything the program left running, which closes the output pipe
  WaitForSingleObject(reader, INFINITE);
  CloseHandle(reader);
  CloseHandle(out_read);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

// The output without what the interpreter wrote between the marks \x02 and \x03, and with each
// CR LF of the program's turned into LF; `bare_line_feeds` counts the program's line feeds that
// had no carriage return before them.
std::string ProgramPart(const std::string& output, int& bare_line_feeds) {
  std::string out;
  bare_line_feeds = 0;
  bool interpreter = false;
  for (std::size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\x03') {
      interpreter = false;
    } else if (interpreter) {
      continue;
    } else if (c == '\n' && (i == 0 || output[i - 1] != '\r')) {
      ++bare_line_feeds;
    } else if (c == '\r' && i + 1 < output.size() && output[i + 1] == '\n') {
      continue;
    }
    interpreter = interpreter || c == '\x02';
    out += c;
  }
  return out;
}

// Has the program's command lines go through the command marker, or straight to the system's
// interpreter (COMSPEC as it was, or cmd.exe where it was not set) as when a player runs it.
// Where cmd would ask before its copy replaces a file, the answer could only be the end of the
// input: it is told to replace the file, as a player would answer.
void UseMarker(bool marker) {
  SetEnvironmentVariableW(L"COPYCMD", L"/Y");
  static const std::wstring system_interpreter = [] {
    wchar_t value[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(L"COMSPEC", value, MAX_PATH);
    return length < MAX_PATH ? std::wstring(value, length) : std::wstring();
  }();
  const std::wstring interpreter =
      marker ? ProgramPath(SK_BACKUP_MARKER_NAME).wstring() : system_interpreter;
  SetEnvironmentVariableW(L"COMSPEC", interpreter.empty() ? nullptr : interpreter.c_str());
}

}  // namespace

const std::string kFirstKey = "\n";

std::string Show(const std::string& line, const std::string&) {
  return Command(line);
}

Shown RunSession(const fs::path& game, const std::string& input, bool closed_input,
                 const std::vector<std::string>& args) {
  static const bool marked = (UseMarker(true), true);
  static_cast<void>(marked);
  const Outcome outcome = RunProgram(game, input, closed_input, args);
  Shown run;
  int bare_line_feeds = 0;
  run.transcript = ProgramPart(outcome.output, bare_line_feeds);
  if (!outcome.finished) {
    run.trouble = "the program did not finish within 60 s";
  } else if (bare_line_feeds != 0) {
    run.trouble = "line feeds should reach the console as CR LF";
  } else if (outcome.exit_code != 0) {
    run.trouble = "exit code " + std::to_string(outcome.exit_code) + ": " + outcome.output;
  }
  return run;
}

namespace {

using support::SessionCaseNamed;

INSTANTIATE_TEST_SUITE_P(Sessions, Dialogue,
                         ::testing::ValuesIn(support::SessionCasesFor("windows")),
                         support::CaseName<SessionCase>);

TEST_F(Session, BacksUpWithTheSystemInterpreterItself) {
  UseMarker(false);
  const Outcome run = RunProgram(game_, "\n1\nx\n");
  UseMarker(true);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0u);
  const SessionCase& c = SessionCaseNamed("BackupAllFresh");
  std::string done = support::OperationEnd(c.name);
  for (std::size_t at = done.find('\n'); at != std::string::npos; at = done.find('\n', at + 2)) {
    done.insert(at, "\r");
  }
  EXPECT_NE(run.output.find(done), std::string::npos) << run.output;
  EXPECT_EQ(Disk(), After(c));
}

TEST_F(Session, ClosedInputEndsTheRun) {
  const SessionCase& c = SessionCaseNamed("WindowsEndOfInput");
  ExpectSession(c, true);
  EXPECT_EQ(Disk(), After(c));
}

}  // namespace
}  // namespace session
