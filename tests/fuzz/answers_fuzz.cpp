// Fuzzes reading answers and matching keys. The fuzz data is the whole of standard input; it is
// read answer by answer until it ends, and each read is checked against properties that any
// sound reading has, with no second tokeniser: what a read took is blanks and then the word it
// answered, it stops where a blank or the end follows, and the answer is that word upper-cased.
#include <cstddef>
#include <cstdint>
#include <ios>
#include <istream>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>

#include "check.hpp"
#include "dialogue/console.hpp"

namespace {

constexpr const char* kKeys[] = {"1", "2", "3", "4", "X", "Y"};
constexpr const char* kLowerCaseKeys[] = {"x", "y"};

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
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

/// Reads `in` to its end and checks every answer against what the read took of `input`;
/// `position` tells how many bytes of it the reader has taken.
template <typename Position>
void CheckReads(std::istream& in, std::string_view input, Position position) {
  for (std::size_t taken = 0, ends = 0; ends < 2;) {
    const console::Answer a = console::read_answer(in);
    const std::size_t now = position();
    SK_FUZZ_CHECK(now >= taken && a.length <= console::kAnswerCapacity);
    std::string_view read = input.substr(taken, now - taken);
    taken = now;
    while (!read.empty() && IsWhite(read.front())) {
      read.remove_prefix(1);
    }
    if (console::input_ended(a)) {  // the end: it stays, and nothing but blanks was left
      SK_FUZZ_CHECK(read.empty() && now == input.size() && !a.over_long);
      for (const char* key : kKeys) {
        SK_FUZZ_CHECK(!console::matches(a, key));
      }
      ++ends;
      continue;
    }
    // One word, all of it, and the blank after it left for the next read.
    SK_FUZZ_CHECK(ends == 0 && !read.empty() && (now == input.size() || IsWhite(input[now])));
    SK_FUZZ_CHECK(a.over_long == (read.size() > console::kAnswerCapacity));
    SK_FUZZ_CHECK(a.length == (a.over_long ? console::kAnswerCapacity : read.size()));
    for (std::size_t j = 0; j < read.size(); ++j) {
      SK_FUZZ_CHECK(!IsWhite(read[j]) && (j >= a.length || a.text[j] == Upper(read[j])));
    }
    CheckMatchRules(a, read);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::istringstream whole{std::string(input)};
  CheckReads(whole, input, [&] {
    return static_cast<std::size_t>(
        whole.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in));
  });

  Trickle trickle(input);
  std::istream trickled(&trickle);
  CheckReads(trickled, input, [&] { return trickle.position(); });
  return 0;
}
