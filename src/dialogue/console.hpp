// The dialogue's only contact with the world: the console, and the command lines handed to the
// runner it is given (the platform's shell in the program, a recorder in the tests).
#pragma once

#include <cstddef>
#include <iosfwd>

namespace console {

/// The number of bytes of a word that an answer keeps. A longer word is marked over-long
/// and never matches a key.
inline constexpr std::size_t kAnswerCapacity = 64;

/// One word typed by the player, with the letters a to z upper-cased.
struct Answer {
  char text[kAnswerCapacity];  ///< the first `length` bytes of the word; not NUL-terminated
  std::size_t length;          ///< bytes kept in `text`; 0 only when the input has ended
  bool over_long;              ///< the word had more than kAnswerCapacity bytes
};

/// What carries out one command line ("cls", "pause", "md NAME" or "copy SOURCE TARGET") and
/// waits until it is done; its reports appear on the console in place.
using CommandRunner = void (*)(const char* line);

/// Sets up the standard streams for the dialogue: standard output is written out whenever the
/// dialogue reads, runs a command line or ends; standard error is unbuffered. From now on every
/// command line goes to `run`. Call once, at start.
void start(CommandRunner run);

/// Writes out standard output, then hands `line` to the runner given to start(); what the command
/// achieved is not returned.
void run_command(const char* line);

/// Writes `message` to standard output unchanged; it is on the console before the dialogue
/// next reads an answer or runs a command line.
void write(const char* message);

/// Writes a line feed to standard output, as write() writes.
void end_line();

/// Flushes standard output, then reads one word from `in`: skips space, tab, LF, VT, FF and CR,
/// takes the bytes up to the next of these or the end of input, and leaves that whitespace and
/// everything after it unread. The letters a to z are upper-cased; every other byte (NUL and
/// non-ASCII included) stays as it is. Memory is bounded whatever the word's length: the first
/// kAnswerCapacity bytes are kept, the rest is consumed. When the input ends or a read fails
/// (a std::ios_base::failure thrown by the stream buffer is caught here) before a word begins,
/// the answer is empty, and so is every later read from `in`; a word cut short by either is
/// the answer.
Answer read_answer(std::istream& in);

/// read_answer() on standard input (through the C library's buffer, a failed read taken for its
/// end), or on the stream given to read_answers_from().
Answer read_answer();

/// Makes read_answer() read from `in` instead of standard input; nullptr gives it back.
void read_answers_from(std::istream* in);

/// True when `answer` is exactly `key`: same length, same bytes, and not over-long.
bool matches(const Answer& answer, const char* key);

/// True when the answer is the empty one that marks the end of input.
bool input_ended(const Answer& answer);

/// Runs the command line "cls".
void clear_screen();

/// Runs the command line "pause".
void pause();

}  // namespace console
