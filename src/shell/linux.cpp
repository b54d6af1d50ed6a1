// The four command lines carried out by the program itself, with no shell and no child
// process, with the effects the Windows command interpreter gives them:
//   cls    clears the terminal, or writes a form feed where output is not a terminal;
//   pause  waits for one key straight from the terminal, and not at all without one;
//   md     creates a folder, leaving an existing one as it was;
//   copy   replaces the target only with a complete, flushed copy.
// Names are looked up as Windows does, ignoring the case of ASCII letters. This file only takes
// a line apart, hands it to the file that carries it out (linux/) and writes the reports:
// successes on standard output, failures on standard error, each in place and whole, a failure
// with what to do where its reason alone does not say (failure_advice.hpp).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "shell/linux/command_line.hpp"
#include "shell/linux/durable_copy.hpp"
#include "shell/linux/failure_advice.hpp"
#include "shell/linux/fatal_signals.hpp"
#include "shell/linux/folder_owner.hpp"
#include "shell/linux/make_folder.hpp"
#include "shell/linux/recovery_copy.hpp"
#include "shell/linux/terminal.hpp"
#include "shell/shell.hpp"

namespace shell {

using namespace linux_shell;

namespace {

/// Writes one whole report line to `stream`: on standard error (unbuffered) in a single write,
/// on standard output into its buffer, which goes out with the dialogue's next text.
void report(std::FILE* stream, std::string_view a, std::string_view b = {}, std::string_view c = {},
            std::string_view d = {}) {
  std::string line;
  line.reserve(a.size() + b.size() + c.size() + d.size() + 1);
  line.append(a).append(b).append(c).append(d).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
}

void run_md(std::string_view written) {
  bool existed = false;
  Result result;
  try {
    result = make_folder(written, existed);
  } catch (const std::bad_alloc&) {
    result = Result::from_errno(ENOMEM);
  }
  if (!result.ok()) {
    report(stderr, "Cannot create folder ", written, ": ",
           result.text() + advice_for(written, true, result));
  } else if (existed) {
    report(stderr, "Folder ", written, " already exists.");
  }
}

void run_copy(std::string_view source, std::string_view target) {
  Result result;
  try {
    result = copy_file(source, target);
  } catch (const std::bad_alloc&) {  // what the copy held is released on the way out
    result = Result::failure(ENOMEM, "there is not enough memory for it; it is left as it was");
  }
  if (result.ok()) {
    report(stdout, "1 file copied.");
  } else if (result.side() == Side::source) {
    report(stderr, "Cannot copy ", source, ": ", result.text() + advice_for(source, false, result));
  } else {
    report(stderr, "Cannot copy to ", target, ": ",
           result.text() + advice_for(target, false, result));
  }
}

}  // namespace

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
      run_md(command.folder);
      return;
    case CommandKind::copy:
      run_copy(command.source, command.target);
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

void prepare_platform() {
  const bool root = geteuid() == 0;
  remember_starting_user();
  if (const Result became = become_folder_owner(); !became.ok()) {
    report(stderr, became.text());
    std::exit(1);
  }
  if (root && geteuid() != 0) {
    note_acting_as_folder_owner();
  }
  catch_fatal_signals();
  make_input_blocking();
}

}  // namespace shell
