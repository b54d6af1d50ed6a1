#include "console/console.hpp"

#include <cstdio>
#include <cstring>
#include <ios>
#include <iostream>
#include <streambuf>

namespace console {

namespace {

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

CommandRunner g_run = nullptr;

}  // namespace

void start(CommandRunner run) {
  g_run = run;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // Standard input then reads through a buffer of its own, which a pause on a terminal
  // bypasses: words typed ahead on a line stay there for the next read.
  std::ios_base::sync_with_stdio(false);
}

void run_command(const char* line) {
  g_run(line);
}

void write(const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
}

void end_line() {
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

Answer read_answer(std::istream& in) {
  std::fflush(stdout);
  Answer answer{};
  // Once the input has ended, it stays ended, even where a terminal would accept more.
  if (!in.good()) {
    return answer;
  }
  std::streambuf* buffer = in.rdbuf();
  constexpr int kEnd = std::char_traits<char>::eof();
  // A file buffer reports a failed read (no standard input at all, a folder given as input) by
  // throwing: the input has ended there, and the word read so far is the answer.
  try {
    int c = buffer->sgetc();
    while (c != kEnd && is_blank(c)) {
      c = buffer->snextc();
    }
    while (c != kEnd && !is_blank(c)) {
      if (answer.length < kAnswerCapacity) {
        answer.text[answer.length++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      } else {
        answer.over_long = true;
      }
      c = buffer->snextc();
    }
    if (c == kEnd) {
      in.setstate(std::ios_base::eofbit);
    }
  } catch (const std::ios_base::failure&) {
    in.setstate(std::ios_base::badbit);
  }
  return answer;
}

Answer read_answer() {
  return read_answer(std::cin);
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
