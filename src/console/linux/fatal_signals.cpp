#include "console/linux/fatal_signals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace linux_shell {

namespace {

volatile sig_atomic_t g_terminal_taken = 0;
termios g_saved_terminal;

volatile sig_atomic_t g_temporary_exists = 0;
int g_temporary_folder = -1;
char g_temporary_name[NAME_MAX + 1];

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

void put_terminal_back() {
  if (g_terminal_taken != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    // The pause's prompt stays on a line of its own, where the line can still be ended.
    if (write(STDOUT_FILENO, "\n", 1) != 1) {
    }
  }
}

extern "C" void clean_up_and_die(int signal_number) {
  // The temporary first: ending the line may raise SIGPIPE, which ends the program at once.
  if (g_temporary_exists != 0) {
    unlinkat(g_temporary_folder, g_temporary_name, 0);
  }
  put_terminal_back();
  // SA_RESETHAND made the action the default one: this ends the program as the signal would
  // have.
  raise_unblocked(signal_number);
}

struct sigaction g_stop_action;

extern "C" void give_back_and_stop(int) {
  const int saved_errno = errno;
  put_terminal_back();
  g_terminal_taken = 0;
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

}  // namespace

void catch_fatal_signals() {
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

void terminal_taken(const termios& saved) {
  // The modes first, so that a handler never sees the record without them.
  g_terminal_taken = 0;
  g_saved_terminal = saved;
  g_terminal_taken = 1;
}

void terminal_given_back() {
  g_terminal_taken = 0;
}

bool temporary_created(int folder, const char* name) {
  const std::size_t length = std::strlen(name);
  if (length >= sizeof g_temporary_name) {
    return false;
  }
  std::memcpy(g_temporary_name, name, length + 1);
  g_temporary_folder = folder;
  g_temporary_exists = 1;
  return true;
}

void temporary_gone() {
  g_temporary_exists = 0;
}

}  // namespace linux_shell
