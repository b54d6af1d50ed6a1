// On Windows the command interpreter carries out every command line, on the same console.

#include <cstdio>
#include <cstdlib>

#include "shell/shell.hpp"

namespace shell {

void run_command(const char* line) {
  std::fflush(stdout);
  // What the interpreter achieved is its own to report on the console.
  static_cast<void>(std::system(line));
}

void open_closed_standard_streams() {
  // A stream with no handle behind it has no file descriptor.
  if (_fileno(stdin) < 0) {
    static_cast<void>(std::freopen("NUL", "r", stdin));
  }
  if (_fileno(stdout) < 0) {
    static_cast<void>(std::freopen("NUL", "w", stdout));
  }
  if (_fileno(stderr) < 0) {
    static_cast<void>(std::freopen("NUL", "w", stderr));
  }
}

void prepare_platform() {}

}  // namespace shell
