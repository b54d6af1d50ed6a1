// The per-platform seam under the console: what carries out the command lines, and what the
// platform needs at start. Defined in linux.cpp (the program carries out the command lines
// itself) and win32.cpp (the command interpreter does); CMake builds one of the two.
#pragma once

namespace shell {

/// Runs one fixed command line ("cls", "pause", "md NAME" or "copy SRC DST") and waits until it
/// is done. Its reports appear on the console in place: a report on standard output may wait in
/// its buffer until the dialogue next writes it out (before it reads, runs a command line or
/// ends); standard output is written out before anything is reported on standard error. Its
/// outcome is not returned.
void run_command(const char* line);

/// Opens on the null device each of standard input, output and error that is closed. main()
/// calls it first, so that no file opened later can take a standard stream's place.
void open_closed_standard_streams();

/// What the platform needs before the dialogue starts; main() calls it once console::start()
/// has set up the streams. On Linux: a run as root in a folder of another user's becomes that user
/// (or ends, having done nothing), the cleanup for signals that end or stop the program is
/// installed, and a standard input left non-blocking is made blocking. Nothing on Windows.
void prepare_platform();

}  // namespace shell
