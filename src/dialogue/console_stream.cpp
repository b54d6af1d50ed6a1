// The console's answers read from a stream instead of standard input: how the tests type. A file
// of its own, so that the program, which reads standard input only, links no stream library.
#include <ios>
#include <istream>
#include <streambuf>

#include "dialogue/answer_words.hpp"
#include "dialogue/console.hpp"

namespace console {

namespace {

std::istream* g_answers = nullptr;

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

Answer read_from_stream() {
  return read_answer(*g_answers);
}

}  // namespace

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

void read_answers_from(std::istream* in) {
  g_answers = in;
  answer_from(in == nullptr ? nullptr : read_from_stream);
}

}  // namespace console
