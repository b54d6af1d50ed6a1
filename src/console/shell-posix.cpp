// The four command lines carried out by the program itself, with no shell and no child
// process, with the effects the Windows command interpreter gives them:
//   cls    clears the terminal, or writes a form feed where output is not a terminal;
//   pause  waits for one key straight from the terminal, and not at all without one;
//   md     creates a folder, leaving an existing one as it was;
//   copy   replaces the target only with a complete, flushed copy (temporary file + rename).
// Names are looked up as Windows does, ignoring the case of ASCII letters.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "console/console.hpp"
#include "console/shell-posix.hpp"

namespace console {

namespace {

// ---------------------------------------------------------------------------------------------
// Reports

/// Writes one whole report line to `stream` in a single write.
void report(std::FILE* stream, std::string_view a, std::string_view b = {}, std::string_view c = {},
            std::string_view d = {}) {
  std::string line;
  line.reserve(a.size() + b.size() + c.size() + d.size() + 1);
  line.append(a).append(b).append(c).append(d).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

// ---------------------------------------------------------------------------------------------
// Signals. While a pause has the terminal in raw mode, or a copy has a temporary file, a signal
// that ends the program first puts the terminal back or removes the temporary file.

volatile std::sig_atomic_t g_terminal_raw = 0;
struct termios g_saved_terminal;

volatile std::sig_atomic_t g_temporary_exists = 0;
char g_temporary_path[4096];

constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

struct SavedSignals {
  struct sigaction ending[std::size(kEndingSignals)];
  struct sigaction file_size;
};

extern "C" void clean_up_and_die(int signal_number) {
  if (g_terminal_raw != 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  }
  if (g_temporary_exists != 0) {
    unlink(g_temporary_path);
  }
  // The handler was reset to the default on entry and the signal is not blocked in it: this
  // ends the program as the signal would have.
  raise(signal_number);
}

void catch_ending_signals(SavedSignals& saved) {
  struct sigaction action {};
  action.sa_handler = clean_up_and_die;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], nullptr, &saved.ending[i]);
    // A signal the program was started with ignored stays ignored.
    if (saved.ending[i].sa_handler != SIG_IGN) {
      sigaction(kEndingSignals[i], &action, nullptr);
    }
  }
  // A file-size limit makes the write fail instead of ending the program half-way.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &saved.file_size);
}

void restore_signals(const SavedSignals& saved) {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &saved.ending[i], nullptr);
  }
  sigaction(SIGXFSZ, &saved.file_size, nullptr);
}

/// Blocks the ending signals (so that the handler sees a consistent state) and returns the
/// previous mask.
sigset_t block_ending_signals() {
  sigset_t block;
  sigset_t previous;
  sigemptyset(&block);
  for (int signal_number : kEndingSignals) {
    sigaddset(&block, signal_number);
  }
  sigprocmask(SIG_BLOCK, &block, &previous);
  return previous;
}

void unblock_signals(const sigset_t& previous) {
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// ---------------------------------------------------------------------------------------------
// cls

void clear_terminal() {
  if (isatty(STDOUT_FILENO) != 0) {
    // Home, clear the screen, clear the scrollback.
    std::fputs("\x1b[H\x1b[2J\x1b[3J", stdout);
  } else {
    // A transcript shows where the screen was cleared.
    std::fputc('\f', stdout);
  }
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// pause

/// How long the rest of one key's bytes may trail its first byte.
constexpr int kKeyTailMilliseconds = 50;

/// Reads one byte from `fd`, waiting at most `timeout_ms` (forever when negative). False when
/// nothing came in time, or at the end of input or on an error.
bool read_byte(int fd, unsigned char& byte, int timeout_ms) {
  if (timeout_ms >= 0) {
    struct pollfd wanted {
      fd, POLLIN, 0
    };
    int ready;
    do {
      ready = poll(&wanted, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
      return false;
    }
  }
  ssize_t got;
  do {
    got = read(fd, &byte, 1);
  } while (got < 0 && errno == EINTR);
  return got == 1;
}

/// Takes from the raw terminal every byte that one key press sends: a plain byte, an escape
/// sequence (CSI, SS3, or Escape with a second key), or a UTF-8 encoded letter. Returns the
/// first byte, or -1 when the terminal gave nothing (end of input, hang-up).
int take_one_key(int fd) {
  unsigned char first;
  if (!read_byte(fd, first, -1)) {
    return -1;
  }
  unsigned char byte = first;
  if (byte == 0x1b) {
    if (!read_byte(fd, byte, kKeyTailMilliseconds)) {
      return first;  // the Escape key alone
    }
    if (byte == '[') {
      // Parameters and intermediates up to one final byte; the Linux console's function keys
      // send a second '[' first.
      for (int i = 0; i < 16 && read_byte(fd, byte, kKeyTailMilliseconds); ++i) {
        if (byte >= 0x40 && byte <= 0x7e && !(i == 0 && byte == '[')) {
          break;
        }
      }
      return first;
    }
    if (byte == 'O') {
      read_byte(fd, byte, kKeyTailMilliseconds);
      return first;
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
  return first;
}

void show_pause_prompt() {
  std::fputs("Press any key to continue...", stdout);
  std::fflush(stdout);
}

void wait_for_key() {
  struct termios saved;
  if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &saved) != 0) {
    // No terminal, no key to wait for: the input is left for the program's reads.
    show_pause_prompt();
    end_line();
    return;
  }
  struct termios raw = saved;
  // No line editing, no echo, and Ctrl-C arrives as a key, handled below once the terminal is
  // back as it was.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  SavedSignals signals;
  g_saved_terminal = saved;
  catch_ending_signals(signals);
  g_terminal_raw = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  // Only now: a key pressed the moment the prompt shows is taken as a key, not echoed.
  show_pause_prompt();
  const int key = take_one_key(STDIN_FILENO);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  g_terminal_raw = 0;
  restore_signals(signals);

  end_line();
  const auto is = [&](int index) {
    return key >= 0 && saved.c_cc[index] != _POSIX_VDISABLE && key == saved.c_cc[index];
  };
  if (is(VINTR)) {
    raise(SIGINT);
  } else if (is(VQUIT)) {
    raise(SIGQUIT);
  }
}

// ---------------------------------------------------------------------------------------------
// Names as Windows treats them

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') {
      x = static_cast<unsigned char>(x - 'A' + 'a');
    }
    if (y >= 'A' && y <= 'Z') {
      y = static_cast<unsigned char>(y - 'A' + 'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// Flushes `folder`'s entries to disk, so that a new or renamed entry in it survives a crash.
/// Best effort: a file system that cannot sync a folder has nothing more to give.
void sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

/// `folder` and `name` joined; an empty folder stands for the current one.
std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  std::string path = folder;
  if (path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

/// The name in `folder` that `name` stands for: `name` itself where it exists with that exact
/// case, else the first in byte order of the entries that equal it ignoring the case of ASCII
/// letters, else `name` unchanged.
std::string find_in_folder(const std::string& folder, const std::string& name) {
  struct stat st;
  if (name == "." || name == ".." || lstat(join(folder, name).c_str(), &st) == 0 ||
      errno != ENOENT) {
    return name;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    return name;
  }
  std::string best;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view candidate = entry->d_name;
    if (equal_ignoring_ascii_case(candidate, name) && (best.empty() || candidate < best)) {
      best = candidate;
    }
  }
  closedir(dir);
  return best.empty() ? name : best;
}

/// Turns a path as a command line writes it (backslashes) into this system's, matching each
/// component case-insensitively where it does not exist with its exact case.
std::string resolve_path(std::string_view written) {
  std::string path;
  if (!written.empty() && (written.front() == '\\' || written.front() == '/')) {
    path.push_back('/');
  }
  std::size_t start = 0;
  while (start < written.size()) {
    std::size_t end = written.find_first_of("\\/", start);
    if (end == std::string_view::npos) {
      end = written.size();
    }
    if (end > start) {
      path = join(path, find_in_folder(path, std::string(written.substr(start, end - start))));
    }
    start = end + 1;
  }
  return path;
}

// ---------------------------------------------------------------------------------------------
// md

void make_folder(std::string_view written) {
  const std::string path = resolve_path(written);
  if (mkdir(path.c_str(), 0777) == 0) {
    // Make the new folder's entry durable before anything is copied into it.
    sync_folder(folder_of(path));
    return;
  }
  const int error = errno;
  struct stat st;
  if (error == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    report(stderr, "Folder ", written, " already exists.");
    return;
  }
  report(stderr, "Cannot create folder ", written, ": ", std::strerror(error));
}

// ---------------------------------------------------------------------------------------------
// copy

/// Where a copy onto `path` really writes: the file at the end of any chain of symbolic links.
/// Fills `target` and, where that file exists, `existing`. Returns nullptr, or the reason why
/// nothing may be written there.
const char* final_target(std::string path, std::string& target, struct stat& existing,
                         bool& exists) {
  for (int links = 0;; ++links) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        return std::strerror(errno);
      }
      struct stat folder;
      if (stat(folder_of(path).c_str(), &folder) != 0) {
        return std::strerror(errno);
      }
      if (!S_ISDIR(folder.st_mode)) {
        return std::strerror(ENOTDIR);
      }
      target = path;
      exists = false;
      return nullptr;
    }
    if (S_ISLNK(st.st_mode)) {
      if (links >= 40) {
        return std::strerror(ELOOP);
      }
      char link[4096];
      const ssize_t length = readlink(path.c_str(), link, sizeof link);
      if (length < 0) {
        return std::strerror(errno);
      }
      if (static_cast<std::size_t>(length) == sizeof link) {
        return std::strerror(ENAMETOOLONG);
      }
      const std::string to(link, static_cast<std::size_t>(length));
      path = to.front() == '/' ? to : join(folder_of(path), to);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      return std::strerror(EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      return "Not a regular file";
    }
    target = path;
    existing = st;
    exists = true;
    return nullptr;
  }
}

/// Writes all of `size` bytes, going on after short writes. False on an error, with errno set.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

char g_copy_buffer[1 << 17];

/// Copies the rest of `in` to `out` through a buffer of this process. Returns nullptr, or the
/// reason it failed; `source_failed` tells which side.
const char* copy_by_reading(int in, int out, bool& source_failed) {
  for (;;) {
    const ssize_t got = read(in, g_copy_buffer, sizeof g_copy_buffer);
    if (got == 0) {
      return nullptr;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      source_failed = true;
      return std::strerror(errno);
    }
    if (!write_all(out, g_copy_buffer, static_cast<std::size_t>(got))) {
      source_failed = false;
      return std::strerror(errno);
    }
  }
}

/// Copies the rest of `in` to `out`, letting the kernel move the data (copy_file_range: no
/// copying through this process, and a shared extent or a server-side copy where the file
/// system offers one). Whatever the kernel does not copy, the reading loop copies from where it
/// stopped: where it declines (another file system, no support), fails, or ends early (a file
/// whose size says nothing of its content). The loop, meeting a real fault again, reports it
/// with the side it belongs to. Returns nullptr, or the reason it failed; `source_failed` tells
/// which side.
const char* copy_data(int in, int out, bool& source_failed) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (;;) {
    const ssize_t copied = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (copied > 0) {
      continue;
    }
    if (copied < 0 && errno == EINTR) {
      continue;
    }
    return copy_by_reading(in, out, source_failed);
  }
}

/// Gives the finished temporary file the source's permission bits and modification time, and
/// an existing target's owner and group where the system allows it. Returns nullptr or why not.
const char* finish_temporary(int fd, const struct stat& source, const struct stat& existing,
                             bool target_exists) {
  if (target_exists) {
    // Only a privileged run (a restore under sudo) can give the file back to its owner; where
    // the system refuses, the owner is the one running the program, as for any new file.
    static_cast<void>(fchown(fd, existing.st_uid, existing.st_gid));
  }
  if (fchmod(fd, source.st_mode & 0777) != 0) {
    return std::strerror(errno);
  }
  const struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
  if (futimens(fd, times) != 0) {
    return std::strerror(errno);
  }
  if (fsync(fd) != 0) {
    return std::strerror(errno);
  }
  return nullptr;
}

/// Why the open file `in` cannot be copied, or nullptr; fills `source`.
const char* check_source(int in, struct stat& source) {
  if (fstat(in, &source) != 0) {
    return std::strerror(errno);
  }
  if (S_ISDIR(source.st_mode)) {
    return std::strerror(EISDIR);
  }
  if (!S_ISREG(source.st_mode)) {
    return "Not a regular file";
  }
  return nullptr;
}

/// Replaces `target` with the content of `in` through a temporary file beside it, which is
/// renamed over the target only when complete and on disk, and removed on any failure.
/// Returns nullptr, or the reason it failed; `source_failed` tells which side.
const char* replace_file(int in, const struct stat& source, const std::string& target,
                         const struct stat& existing, bool target_exists, bool& source_failed) {
  std::string hidden_name(1, '.');
  hidden_name.append(name_of(target)).append(".sk-backup-XXXXXX");
  const std::string temporary = join(folder_of(target), hidden_name);
  if (temporary.size() >= sizeof g_temporary_path) {
    return std::strerror(ENAMETOOLONG);
  }

  SavedSignals signals;
  catch_ending_signals(signals);
  sigset_t mask = block_ending_signals();
  std::memcpy(g_temporary_path, temporary.c_str(), temporary.size() + 1);
  const int out = mkostemp(g_temporary_path, O_CLOEXEC);
  g_temporary_exists = out >= 0 ? 1 : 0;
  unblock_signals(mask);

  const char* reason = nullptr;
  if (out < 0) {
    reason = std::strerror(errno);
  } else {
    reason = copy_data(in, out, source_failed);
    if (reason == nullptr) {
      reason = finish_temporary(out, source, existing, target_exists);
    }
    if (close(out) != 0 && reason == nullptr) {
      reason = std::strerror(errno);
    }
    if (reason == nullptr && rename(g_temporary_path, target.c_str()) != 0) {
      reason = std::strerror(errno);
    }
    mask = block_ending_signals();
    if (reason != nullptr) {
      unlink(g_temporary_path);
    }
    g_temporary_exists = 0;
    unblock_signals(mask);
  }
  restore_signals(signals);
  return reason;
}

void copy_file(std::string_view source_written, std::string_view target_written) {
  // Not blocking, so that a FIFO in the source's place cannot hang the program.
  const int in =
      open(resolve_path(source_written).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (in < 0) {
    report(stderr, "Cannot copy ", source_written, ": ", std::strerror(errno));
    return;
  }
  struct stat source;
  std::string target;
  struct stat existing {};
  bool target_exists = false;
  bool source_failed = true;
  const char* reason = check_source(in, source);
  if (reason == nullptr) {
    source_failed = false;
    reason = final_target(resolve_path(target_written), target, existing, target_exists);
  }
  if (reason == nullptr && target_exists && existing.st_dev == source.st_dev &&
      existing.st_ino == source.st_ino) {
    reason = "It is the same file as the source";
  }
  if (reason == nullptr) {
    reason = replace_file(in, source, target, existing, target_exists, source_failed);
  }
  close(in);

  if (reason != nullptr) {
    if (source_failed) {
      report(stderr, "Cannot copy ", source_written, ": ", reason);
    } else {
      report(stderr, "Cannot copy to ", target_written, ": ", reason);
    }
    return;
  }
  // The rename is durable once the folder is.
  sync_folder(folder_of(target));
  report(stdout, "1 file copied.");
}

// ---------------------------------------------------------------------------------------------
// Parsing

bool is_separator(char c) {
  return c == ' ' || c == '\t';
}

/// A control character (tab aside), DEL or a quote, wherever it stands, makes a line unknown.
bool is_refused(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7f || c == '"';
}

}  // namespace

Command parse_command_line(std::string_view line) {
  constexpr Command kUnknown{CommandKind::unknown, {}, {}};
  for (const char c : line) {
    if (is_refused(c)) {
      return kUnknown;
    }
  }
  std::string_view words[4];
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_separator(line[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < line.size() && !is_separator(line[end])) {
      ++end;
    }
    if (count == std::size(words)) {
      return kUnknown;
    }
    words[count++] = line.substr(i, end - i);
    i = end;
  }
  if (count == 0) {
    return kUnknown;
  }
  const std::string_view verb = words[0];
  if (count == 1 && equal_ignoring_ascii_case(verb, "cls")) {
    return {CommandKind::clear_screen, {}, {}};
  }
  if (count == 1 && equal_ignoring_ascii_case(verb, "pause")) {
    return {CommandKind::pause, {}, {}};
  }
  if (count == 2 && equal_ignoring_ascii_case(verb, "md")) {
    return {CommandKind::make_folder, words[1], {}};
  }
  if (count == 3 && equal_ignoring_ascii_case(verb, "copy")) {
    return {CommandKind::copy, words[1], words[2]};
  }
  return kUnknown;
}

void run_command(const char* line) {
  std::fflush(stdout);
  const Command command = parse_command_line(line);
  switch (command.kind) {
    case CommandKind::clear_screen:
      clear_terminal();
      return;
    case CommandKind::pause:
      wait_for_key();
      return;
    case CommandKind::make_folder:
      make_folder(command.first);
      return;
    case CommandKind::copy:
      copy_file(command.first, command.second);
      return;
    case CommandKind::unknown:
      report(stderr, "Not a recognised command: ", line);
      return;
  }
}

void open_closed_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is `fd` itself, as the ones below it are open by now.
      const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        close(opened);
      }
    }
  }
}

}  // namespace console
