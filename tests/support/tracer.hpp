// A tracer that holds the program at the end of its first write into a file and sends it a
// signal there: the moment between two calls that a test needs, every time.
#pragma once

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace support {

/// Follows `pid` (started with Launch::traced) until a pwrite64 into a file whose path ends with
/// `suffix` returns; sends it `signal_number` there and lets it go. False where it ended first.
inline bool SignalAfterFirstWrite(pid_t pid, const std::string& suffix, int signal_number) {
  int status;
  if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status) ||
      ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    return false;
  }
  std::string fd;  // of the pwrite64 under way
  for (int deliver = 0;;) {
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, deliver) != 0 || waitpid(pid, &status, 0) != pid ||
        !WIFSTOPPED(status)) {
      return false;
    }
    deliver = WSTOPSIG(status) == (SIGTRAP | 0x80) ? 0 : WSTOPSIG(status);
    __ptrace_syscall_info info{};
    char path[4096] = {};
    if (deliver != 0 || ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) {
    } else if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
      fd = info.entry.nr == __NR_pwrite64 ? std::to_string(info.entry.args[0]) : "";
    } else if (!fd.empty() &&
               readlink(("/proc/" + std::to_string(pid) + "/fd/" + fd).c_str(), path,
                        sizeof path - 1) > 0 &&
               std::string(path).ends_with(suffix)) {
      kill(pid, signal_number);
      ptrace(PTRACE_DETACH, pid, nullptr, 0);  // fails after a SIGKILL, which needs none
      return true;
    }
  }
}

}  // namespace support
