#include "dialogue/console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dialogue/answer_words.hpp"

namespace console {

namespace {

CommandRunner g_run = nullptr;
AnswerSource g_source = nullptr;
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

}  // namespace

void start(CommandRunner run) {
  g_run = run;
  // Standard output is written where the dialogue waits or a command line runs, so that a screen
  // takes a few writes instead of one for each message.
  static char out[4096];
  std::setvbuf(stdout, out, _IOFBF, sizeof out);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

void answer_from(AnswerSource source) {
  g_source = source;
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

Answer read_answer() {
  if (g_source != nullptr) {
    return g_source();
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
