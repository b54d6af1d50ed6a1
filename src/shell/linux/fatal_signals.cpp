#include "shell/linux/fatal_signals.hpp"

#include <unistd.h>

#include <cerrno>

namespace linux_shell {

namespace {

constexpr int kMostCleanups = 4;
SignalCleanup g_cleanups[kMostCleanups];
volatile sig_atomic_t g_cleanup_count = 0;

void run_cleanups(bool stopping) {
  for (int i = 0; i < g_cleanup_count; ++i) {
    g_cleanups[i](stopping);
  }
}

/// Signals whose default action does not end the program; every other one does.
bool leaves_the_program_running(int signal_number) {
  switch (signal_number) {
    case SIGKILL:  // cannot be caught
    case SIGSTOP:
    case SIGTSTP:  // stop signals: SIGTSTP has a handler of its own, SIGTTIN and SIGTTOU stop
    case SIGTTIN:  // a program in the background that reads or takes the terminal, as they
    case SIGTTOU:  // should
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH:
    case SIGXFSZ:  // ignored
      return true;
    default:
      return false;
  }
}

/// Delivers `signal_number` to the program now, with whatever action it has at that moment.
void raise_unblocked(int signal_number) {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  raise(signal_number);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

extern "C" void clean_up_and_die(int signal_number) {
  // Every signal is blocked meanwhile (sa_mask): one that a cleanup causes (SIGPIPE from ending
  // a line) waits, and this one ends the program first.
  run_cleanups(false);
  // SA_RESETHAND made the action the default one: this ends the program as the signal would
  // have.
  raise_unblocked(signal_number);
}

struct sigaction g_stop_action;

extern "C" void give_back_and_stop(int) {
  const int saved_errno = errno;
  run_cleanups(true);
  // The action is the default one now (SA_RESETHAND): this stops the program, until continued.
  raise_unblocked(SIGTSTP);
  sigaction(SIGTSTP, &g_stop_action, nullptr);
  errno = saved_errno;
}

/// Sets `action` for `signal_number`, unless the program was started with it ignored.
void install(int signal_number, const struct sigaction& action) {
  struct sigaction previous;
  if (sigaction(signal_number, &action, &previous) == 0 && previous.sa_handler == SIG_IGN) {
    sigaction(signal_number, &previous, nullptr);
  }
}

/// Installs the handlers that run the cleanups.
void install_handlers() {
  struct sigaction die {};
  die.sa_handler = clean_up_and_die;
  die.sa_flags = SA_RESETHAND;
  sigfillset(&die.sa_mask);
  for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
    if (!leaves_the_program_running(signal_number)) {
      // Fails harmlessly for the few signals that the C library keeps for itself.
      install(signal_number, die);
    }
  }

  g_stop_action.sa_handler = give_back_and_stop;
  g_stop_action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigfillset(&g_stop_action.sa_mask);
  install(SIGTSTP, g_stop_action);
}

}  // namespace

void catch_fatal_signals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

sigset_t block_signals() {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &previous);
  return previous;
}

void unblock_signals(const sigset_t& previous) {
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}

bool on_fatal_signal(SignalCleanup cleanup) {
  if (g_cleanup_count >= kMostCleanups) {
    return false;
  }
  // The handlers only now that there is something to undo: until then each signal's default
  // action is what they would do, and a run that copies nothing is spared the calls.
  // The caller's errno is kept (the C library's own signals refuse a handler).
  const int saved_errno = errno;
  static const bool installed = (install_handlers(), true);
  static_cast<void>(installed);
  errno = saved_errno;
  // The entry first, then the count: a handler never sees the count without its entry.
  g_cleanups[g_cleanup_count] = cleanup;
  g_cleanup_count = g_cleanup_count + 1;
  return true;
}

}  // namespace linux_shell
