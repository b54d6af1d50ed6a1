#include "shell/linux/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "shell/linux/fatal_signals.hpp"

namespace linux_shell {

namespace {

/// How long the rest of one key's bytes may trail its first byte.
constexpr int kKeyTailMilliseconds = 50;

/// Waits up to `timeout_ms` (forever when negative) for input on `fd`, then reads one byte. False
/// when nothing came in time, at the end of input, or on an error. A non-blocking `fd` is waited
/// for all the same.
bool read_byte(int fd, unsigned char& byte, int timeout_ms) {
  for (;;) {
    pollfd wanted{fd, POLLIN, 0};
    const int ready = poll(&wanted, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return false;
    }
    const ssize_t got = read(fd, &byte, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    return got == 1;
  }
}

/// Takes from the raw terminal every byte that one key press sends: a plain byte, an escape
/// sequence (CSI, SS3, or Escape with a second key), or a UTF-8 encoded letter.
void take_one_key(int fd) {
  unsigned char byte;
  if (!read_byte(fd, byte, -1)) {
    return;
  }
  if (byte == 0x1b) {
    if (!read_byte(fd, byte, kKeyTailMilliseconds)) {
      return;  // the Escape key alone
    }
    if (byte == '[') {
      // Parameters and intermediates up to one final byte; the Linux console's function keys
      // send a second '[' first.
      for (int i = 0; i < 16 && read_byte(fd, byte, kKeyTailMilliseconds); ++i) {
        if (byte >= 0x40 && byte <= 0x7e && !(i == 0 && byte == '[')) {
          break;
        }
      }
      return;
    }
    if (byte == 'O') {
      read_byte(fd, byte, kKeyTailMilliseconds);
      return;
    }
    // Escape followed by a key (Alt+key): that key's UTF-8 tail follows below.
  }
  int tail = 0;
  if (byte >= 0xc2 && byte <= 0xdf) {
    tail = 1;
  } else if (byte >= 0xe0 && byte <= 0xef) {
    tail = 2;
  } else if (byte >= 0xf0 && byte <= 0xf4) {
    tail = 3;
  }
  for (; tail > 0 && read_byte(fd, byte, kKeyTailMilliseconds); --tail) {
  }
}

constexpr char kPausePrompt[] = "Press any key to continue...";

void show_pause_prompt() {
  std::fputs(kPausePrompt, stdout);
  std::fflush(stdout);
}

/// Writes the line feed that ends the pause's line straight to standard output, past its
/// buffer: only write(2), so that a signal handler may call it once the prompt is out.
void write_line_feed() {
  if (write(STDOUT_FILENO, "\n", 1) != 1) {
  }
}

/// Ends the pause's line after its key (so that the prompt keeps a line of its own).
void end_pause_line() {
  std::fflush(stdout);
  write_line_feed();
}

// While a pause holds the terminal in raw modes: the modes to put back.
volatile sig_atomic_t g_taken = 0;
termios g_saved;

/// A signal that ends or stops the program during a pause puts the terminal back first and ends
/// the prompt's line; a stop also forgets it, as the terminal is given back. Calls only what a
/// signal handler may: the prompt was flushed when it was shown.
void give_back_on_signal(bool stopping) {
  if (g_taken != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    write_line_feed();
    g_taken = stopping ? 0 : g_taken;
  }
}

/// Records `saved` as the modes to put back: a signal from now on puts them back.
void terminal_taken(const termios& saved) {
  static const bool registered = on_fatal_signal(give_back_on_signal);
  static_cast<void>(registered);
  // The modes first, so that a handler never sees the record without them.
  g_taken = 0;
  g_saved = saved;
  g_taken = 1;
}

/// The modes of the pause: single bytes as they come, no echo, no flow control (Ctrl-S and
/// Ctrl-Q are keys like any other). The signal keys stay as the player has them.
termios raw_modes(const termios& saved) {
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

/// Waits until the terminal has input, taking a stop (SIGTSTP, blocked otherwise) only here.
/// False when the wait was cut by a stop: the terminal has been given back meanwhile.
bool wait_for_input(const sigset_t& stop_allowed) {
  pollfd wanted{STDIN_FILENO, POLLIN, 0};
  return ppoll(&wanted, 1, nullptr, &stop_allowed) >= 0 || errno != EINTR;
}

/// Whether the standard stream `fd` (standard input or output) is a terminal, asked once: the
/// program never replaces its standard streams once it runs.
bool is_terminal(int fd) {
  static const bool input = isatty(STDIN_FILENO) != 0;
  static const bool output = isatty(STDOUT_FILENO) != 0;
  return fd == STDIN_FILENO ? input : output;
}

}  // namespace

void clear_terminal() {
  // Written out with the screen that follows, in one write: no blank screen in between.
  if (is_terminal(STDOUT_FILENO)) {
    // Home, clear the screen, clear the scrollback.
    std::fputs("\x1b[H\x1b[2J\x1b[3J", stdout);
  } else {
    std::fputc('\f', stdout);
  }
}

void wait_for_key() {
  if (!is_terminal(STDIN_FILENO)) {
    // Nothing to wait for: the prompt and its line feed go out with what follows.
    std::fputs(kPausePrompt, stdout);
    std::fputc('\n', stdout);
    return;
  }
  // A stop is taken only while the pause waits for its key, never while it changes modes.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigset_t outside;
  sigprocmask(SIG_BLOCK, &stop, &outside);
  termios saved;
  for (;;) {
    // Take the terminal first: a program in the background is stopped here until it is in the
    // foreground, so that the modes read next are the ones to put back, not a line editor's.
    while (tcdrain(STDIN_FILENO) != 0 && errno == EINTR) {
    }
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
      sigprocmask(SIG_SETMASK, &outside, nullptr);
      show_pause_prompt();
      end_pause_line();
      return;
    }
    terminal_taken(saved);
    const termios raw = raw_modes(saved);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    // Only now: a key pressed the moment the prompt shows is taken as a key, not echoed.
    show_pause_prompt();
    if (wait_for_input(outside)) {
      break;
    }
  }
  take_one_key(STDIN_FILENO);
  // What else was typed at the pause is dropped, so that it cannot turn up unseen in front of
  // the next answer.
  tcflush(STDIN_FILENO, TCIFLUSH);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  g_taken = 0;
  sigprocmask(SIG_SETMASK, &outside, nullptr);
  end_pause_line();
}

void make_input_blocking() {
  const int flags = fcntl(STDIN_FILENO, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) != 0) {
    fcntl(STDIN_FILENO, F_SETFL, flags & ~O_NONBLOCK);
  }
}

}  // namespace linux_shell
