// How the console reads one word of an answer, from standard input or from a stream: shared by
// console.cpp and console_stream.cpp, so that the program, which reads standard input only,
// links none of the stream library.
#pragma once

#include <cstdio>

#include "dialogue/console.hpp"

namespace console {

inline bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

/// Where read_answer() takes its answers instead of standard input; nullptr gives it back.
using AnswerSource = Answer (*)();
void answer_from(AnswerSource source);

}  // namespace console
