// Fuzzes reading answers and matching keys. The fuzz data is the whole of standard input; it is
// read answer by answer until it ends, and every answer is compared with what a tokeniser
// written here, independently of the reader, makes of the same bytes.
#include <cstddef>
#include <cstdint>
#include <ios>
#include <istream>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "console/console.hpp"

namespace {

constexpr const char* kKeys[] = {"1", "2", "3", "4", "X", "Y"};
constexpr const char* kLowerCaseKeys[] = {"x", "y"};

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Where one word lies in the input: [begin, end).
struct Word {
  std::size_t begin;
  std::size_t end;
};

std::vector<Word> WordsOf(std::string_view input) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < input.size()) {
    if (IsWhite(input[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = i;
    while (i < input.size() && !IsWhite(input[i])) {
      ++i;
    }
    words.push_back({begin, i});
  }
  return words;
}

/// Hands out the input one byte per refill, so that every word straddles refills.
class Trickle : public std::streambuf {
 public:
  explicit Trickle(std::string_view data) : data_(data) {}

  /// Bytes taken by the reader so far.
  std::size_t position() const {
    return next_ - static_cast<std::size_t>(egptr() - gptr());
  }

 protected:
  int_type underflow() override {
    if (next_ == data_.size()) {
      return traits_type::eof();
    }
    current_ = data_[next_++];
    setg(&current_, &current_, &current_ + 1);
    return traits_type::to_int_type(current_);
  }

 private:
  std::string_view data_;
  std::size_t next_ = 0;
  char current_ = 0;
};

void CheckMatchRules(const console::Answer& a, std::string_view word) {
  const bool has_nul = word.find('\0') != std::string_view::npos;
  for (const char* key : kKeys) {
    const bool expected = !a.over_long && word.size() == 1 && Upper(word[0]) == key[0];
    SK_FUZZ_CHECK(console::matches(a, key) == expected);
    SK_FUZZ_CHECK(!(has_nul && console::matches(a, key)));
    SK_FUZZ_CHECK(!(a.over_long && console::matches(a, key)));
  }
  for (const char* key : kLowerCaseKeys) {
    SK_FUZZ_CHECK(!console::matches(a, key));
  }
  // An answer matches its own text exactly when it is not over-long (a key holds no NUL).
  const std::string own(a.text, a.length);
  if (own.find('\0') == std::string::npos) {
    SK_FUZZ_CHECK(console::matches(a, own.c_str()) == !a.over_long);
  }
}

/// Reads `in` to its end and checks every answer against `words`; `position` tells how many
/// bytes of `input` the reader has taken.
template <typename Position>
void CheckReads(std::istream& in, std::string_view input, const std::vector<Word>& words,
                Position position) {
  // One read per word, one that finds the end, one more to see that the end stays.
  for (std::size_t i = 0; i < words.size() + 2; ++i) {
    const console::Answer a = console::read_answer(in);
    SK_FUZZ_CHECK(a.length <= console::kAnswerCapacity);
    if (i >= words.size()) {
      SK_FUZZ_CHECK(console::input_ended(a));
      SK_FUZZ_CHECK(a.length == 0 && !a.over_long);
      SK_FUZZ_CHECK(position() == input.size());
      for (const char* key : kKeys) {
        SK_FUZZ_CHECK(!console::matches(a, key));
      }
      continue;
    }
    const std::string_view word = input.substr(words[i].begin, words[i].end - words[i].begin);
    SK_FUZZ_CHECK(!console::input_ended(a));
    SK_FUZZ_CHECK(a.over_long == (word.size() > console::kAnswerCapacity));
    SK_FUZZ_CHECK(a.length == (a.over_long ? console::kAnswerCapacity : word.size()));
    for (std::size_t j = 0; j < a.length; ++j) {
      SK_FUZZ_CHECK(!IsWhite(a.text[j]));
      SK_FUZZ_CHECK(!(a.text[j] >= 'a' && a.text[j] <= 'z'));
      SK_FUZZ_CHECK(a.text[j] == Upper(word[j]));
    }
    // The whitespace after the word, and all that follows, is left for the next read.
    SK_FUZZ_CHECK(position() == words[i].end);
    CheckMatchRules(a, word);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<Word> words = WordsOf(input);

  std::istringstream whole{std::string(input)};
  CheckReads(whole, input, words, [&] {
    return static_cast<std::size_t>(
        whole.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in));
  });

  Trickle trickle(input);
  std::istream trickled(&trickle);
  CheckReads(trickled, input, words, [&] { return trickle.position(); });
  return 0;
}
