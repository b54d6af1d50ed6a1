// The built program started as a player's shell starts it (POSIX): in a folder, with its input
// waiting in a pipe, its output caught in files, and ended by force after a deadline.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace support {

namespace fs = std::filesystem;

/// A user and group to run as.
struct User {
  uid_t uid;
  gid_t gid;
};

/// How the program is started.
struct Launch {
  std::string program = SK_BACKUP_EXE;
  std::vector<std::string> args;
  fs::path folder;
  std::string input;
  bool closed_input = false;  ///< no standard input at all
  fs::path out = "/dev/null";
  fs::path err = "/dev/null";  ///< the same path as `out`: both streams in one file, in order
  rlim_t file_size_limit = RLIM_INFINITY;
  rlim_t memory_limit = RLIM_INFINITY;                           ///< of its address space
  const User* user = nullptr;                                    ///< run as this user instead
  std::vector<std::pair<std::string, std::string>> environment;  ///< set besides the tests' own
  bool traced = false;          ///< stopped at its start for a tracer (support/tracer.hpp)
  bool (*prepare)() = nullptr;  ///< called in the child just before the program starts (to inject
                                ///< a fault); the child gives up with status 126 where it fails
};

/// How long a run of the program may take in a test before it is ended by force.
inline constexpr auto kDeadline = std::chrono::seconds(20);

/// The exit status of a child that could not become `Launch::user` or enter its folder as that
/// user.
constexpr int kCannotSwitchUser = 125;

/// Starts the program, its input written whole into a pipe of its own before it starts.
inline pid_t Start(const Launch& launch) {
  int input[2];
  if (pipe(input) != 0 || write(input[1], launch.input.data(), launch.input.size()) !=
                              static_cast<ssize_t>(launch.input.size())) {
    return -1;
  }
  close(input[1]);
  std::vector<char*> argv = {const_cast<char*>(launch.program.c_str())};
  for (const std::string& arg : launch.args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(launch.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = launch.err == launch.out
                        ? out
                        : open(launch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(input[0], 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(126);
    }
    if (launch.closed_input) {
      close(0);
    }
    // A file-size limit kills by default; the program itself must keep that from happening.
    signal(SIGXFSZ, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const struct rlimit limit = {launch.file_size_limit, launch.file_size_limit};
    const struct rlimit memory = {launch.memory_limit, launch.memory_limit};
    if ((launch.file_size_limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0) ||
        (launch.memory_limit != RLIM_INFINITY && setrlimit(RLIMIT_AS, &memory) != 0)) {
      _exit(126);
    }
    for (const auto& [name, value] : launch.environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    for (const int signal_number : {SIGINT, SIGHUP, SIGTERM}) {  // as a terminal starts it
      signal(signal_number, SIG_DFL);
    }
    // A job of its own, as a shell starts it: a stop signal stops it wherever the tests run.
    if (launch.traced && (setpgid(0, 0) != 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)) {
      _exit(126);
    }
    if (launch.user != nullptr && (setgroups(0, nullptr) != 0 || setgid(launch.user->gid) != 0 ||
                                   setuid(launch.user->uid) != 0)) {
      _exit(kCannotSwitchUser);
    }
    if (chdir(launch.folder.c_str()) != 0) {
      _exit(launch.user != nullptr ? kCannotSwitchUser : 126);
    }
    if (launch.prepare != nullptr && !launch.prepare()) {
      _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(input[0]);
  return pid;
}

/// The wait status, or -1 when the program was still running after kDeadline (it is killed then).
inline int Finish(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

}  // namespace support
