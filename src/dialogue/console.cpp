#include "dialogue/console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ios>
#include <istream>
#include <streambuf>

namespace console {

namespace {

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

CommandRunner g_run = nullptr;
std::istream* g_answers = nullptr;
bool g_input_ended = false;

/// Standard input read through the C library's buffer, which a pause on a terminal bypasses:
/// words typed ahead on a line stay there for the next read. (No iostream: setting up its eight
/// streams and their locale would cost the program a third of its start.)
struct StandardInput {
  int get() {
    for (;;) {
      const int c = std::getc(stdin);
      if (c != EOF || !std::ferror(stdin) || errno != EINTR) {
        return c;
      }
      std::clearerr(stdin);
    }
  }
  int first() {
    return get();
  }
  int next() {
    return get();
  }
  void leave(int c) {
    std::ungetc(c, stdin);
  }
};

/// A stream's buffer, as read_answer(std::istream&) reads it.
struct StreamInput {
  std::streambuf* buffer;
  int first() {
    return buffer->sgetc();
  }
  int next() {
    return buffer->snextc();
  }
  void leave(int) {}  // sgetc and snextc leave the byte they give in the buffer
};

/// One word of `input` into `answer`, by the rules of read_answer(); `ended` where the input
/// ended. A read that throws leaves in `answer` the word read so far.
template <typename Input>
void read_word(Input& input, Answer& answer, bool& ended) {
  int c = input.first();
  while (c != EOF && is_blank(c)) {
    c = input.next();
  }
  while (c != EOF && !is_blank(c)) {
    if (answer.length < kAnswerCapacity) {
      answer.text[answer.length++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    } else {
      answer.over_long = true;
    }
    c = input.next();
  }
  if (c == EOF) {
    ended = true;
  } else {
    input.leave(c);
  }
}

}  // namespace

void start(CommandRunner run) {
  g_run = run;
  // Standard output is written where the dialogue waits or a command line runs, so that a screen
  // takes a few writes instead of one for each message.
  static char out[4096];
  std::setvbuf(stdout, out, _IOFBF, sizeof out);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

void read_answers_from(std::istream* in) {
  g_answers = in;
}

void run_command(const char* line) {
  std::fflush(stdout);
  g_run(line);
}

void write(const char* message) {
  std::fputs(message, stdout);
}

void end_line() {
  std::fputc('\n', stdout);
}

Answer read_answer(std::istream& in) {
  std::fflush(stdout);
  // Once the input has ended, it stays ended, even where a terminal would accept more.
  if (!in.good()) {
    return {};
  }
  static_assert(std::char_traits<char>::eof() == EOF);
  StreamInput input{in.rdbuf()};
  bool ended = false;
  Answer answer{};
  // A file buffer reports a failed read (no standard input at all, a folder given as input) by
  // throwing: the input has ended there, and the word read so far is the answer.
  try {
    read_word(input, answer, ended);
  } catch (const std::ios_base::failure&) {
    in.setstate(std::ios_base::badbit);
  }
  if (ended) {
    in.setstate(std::ios_base::eofbit);
  }
  return answer;
}

Answer read_answer() {
  if (g_answers != nullptr) {
    return read_answer(*g_answers);
  }
  std::fflush(stdout);
  // A failed read (a folder given as input) ends the input as its end does.
  if (g_input_ended) {
    return {};
  }
  StandardInput input;
  Answer answer{};
  read_word(input, answer, g_input_ended);
  return answer;
}

bool matches(const Answer& answer, const char* key) {
  const std::size_t key_length = std::strlen(key);
  return !answer.over_long && answer.length == key_length &&
         std::memcmp(answer.text, key, key_length) == 0;
}

bool input_ended(const Answer& answer) {
  return answer.length == 0;
}

void clear_screen() {
  run_command("cls");
}

void pause() {
  run_command("pause");
}

}  // namespace console
