// Reading the player's answers: one word per read, upper-cased, bounded, and an end that stays.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "dialogue/console.hpp"

namespace {

std::string TextOf(const console::Answer& answer) {
  return std::string(answer.text, answer.length);
}

/// Reads answers until the input has ended and returns their texts, over-long ones marked with a
/// trailing "~".
std::vector<std::string> ReadAll(std::istream& in) {
  std::vector<std::string> words;
  for (console::Answer a = console::read_answer(in); !console::input_ended(a);
       a = console::read_answer(in)) {
    words.push_back(a.over_long ? TextOf(a) + "~" : TextOf(a));
  }
  return words;
}

struct ReadCase {
  std::string input;
  std::vector<std::string> words;
};

TEST(ReadAnswer, TakesOneUpperCasedWordPerRead) {
  const std::string long_word(64, 'k');
  const ReadCase cases[] = {
      {"", {}},
      {" \t\n\v\f\r", {}},
      {"1\n", {"1"}},
      {"  y  \n", {"Y"}},
      {"x", {"X"}},  // a last word with no line feed is still a word
      {"2 y n y\n", {"2", "Y", "N", "Y"}},
      {"\n\n\n3\r\nn\tx", {"3", "N", "X"}},
      {"abcxyz ABC yes Y.", {"ABCXYZ", "ABC", "YES", "Y."}},
      {"@[`{ \xc3\xa9t\xc3\xa9 \xff", {"@[`{", "\xc3\xa9T\xc3\xa9", "\xff"}},
      {std::string("1\0 y", 4), {std::string("1\0", 2), "Y"}},
      {long_word + " 1", {std::string(64, 'K'), "1"}},
      {long_word + "zz 1", {std::string(64, 'K') + "~", "1"}},
  };
  for (const ReadCase& c : cases) {
    std::istringstream in(c.input);
    EXPECT_EQ(ReadAll(in), c.words) << "input: " << c.input;
  }
}

TEST(ReadAnswer, LeavesTheRestOfTheLineUnread) {
  std::istringstream in("4 y\nn\n");
  console::read_answer(in);
  std::string rest;
  std::getline(in, rest, '\0');
  EXPECT_EQ(rest, " y\nn\n");
}

/// Input that ends once and then has more, as a terminal does after Ctrl-D.
class EndsThenGoesOn : public std::streambuf {
 protected:
  int_type underflow() override {
    if (gptr() != nullptr && gptr() < egptr()) {
      return traits_type::to_int_type(*gptr());
    }
    if (calls_++ == 0) {
      return traits_type::eof();
    }
    setg(more_, more_, more_ + 2);
    return traits_type::to_int_type(*gptr());
  }

 private:
  int calls_ = 0;
  char more_[2] = {'1', '\n'};
};

TEST(ReadAnswer, StaysEndedOnceInputHasEnded) {
  EndsThenGoesOn source;
  std::istream in(&source);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(console::input_ended(console::read_answer(in)));
  }
  std::istringstream failed("1\n");
  failed.setstate(std::ios_base::badbit);
  EXPECT_TRUE(console::input_ended(console::read_answer(failed)));
}

/// Input whose read fails after some words, as a file buffer reports it: by throwing.
class FailsAfter : public std::streambuf {
 public:
  explicit FailsAfter(const char* text) : text_(text) {}

 protected:
  int_type underflow() override {
    if (gptr() != nullptr && gptr() < egptr()) {
      return traits_type::to_int_type(*gptr());
    }
    if (!given_ && !text_.empty()) {
      given_ = true;
      setg(text_.data(), text_.data(), text_.data() + text_.size());
      return traits_type::to_int_type(*gptr());
    }
    throw std::ios_base::failure("read error");
  }

 private:
  std::string text_;
  bool given_ = false;
};

TEST(ReadAnswer, AFailedReadEndsTheInput) {
  FailsAfter source("4 y");
  std::istream in(&source);
  EXPECT_EQ(ReadAll(in), (std::vector<std::string>{"4", "Y"}));
  EXPECT_TRUE(console::input_ended(console::read_answer(in)));
  FailsAfter nothing("");
  std::istream empty(&nothing);
  EXPECT_TRUE(console::input_ended(console::read_answer(empty)));
}

/// A word of `size` bytes made on the fly, so no test holds it in memory: the letters a to z
/// over and over.
class EndlessWord : public std::streambuf {
 public:
  explicit EndlessWord(std::size_t size) : left_(size) {}

 protected:
  int_type underflow() override {
    if (left_ == 0) {
      return traits_type::eof();
    }
    const std::size_t n = std::min(left_, sizeof chunk_);
    for (std::size_t i = 0; i < n; ++i) {
      chunk_[i] = static_cast<char>('a' + (made_ + i) % 26);
    }
    made_ += n;
    left_ -= n;
    setg(chunk_, chunk_, chunk_ + n);
    return traits_type::to_int_type(chunk_[0]);
  }

 private:
  std::size_t left_;
  std::size_t made_ = 0;
  char chunk_[4096];
};

TEST(ReadAnswer, KeepsTheFirstBytesOfAHugeWordAndMarksItOverLong) {
  EndlessWord source(64u << 20);
  std::istream in(&source);
  const console::Answer a = console::read_answer(in);
  EXPECT_TRUE(a.over_long);
  std::string first;
  for (std::size_t i = 0; i < console::kAnswerCapacity; ++i) {
    first += static_cast<char>('A' + i % 26);
  }
  EXPECT_EQ(TextOf(a), first);
  EXPECT_FALSE(console::matches(a, first.c_str()));
  EXPECT_TRUE(console::input_ended(console::read_answer(in)));
}

TEST(Matches, OnlyTheWholeWordMatches) {
  std::istringstream in(std::string("y Y yy 1. \0 x", 13));
  const bool expected[] = {true, true, false, false, false, false};
  for (bool matches_y : expected) {
    const console::Answer a = console::read_answer(in);
    EXPECT_EQ(console::matches(a, "Y"), matches_y) << TextOf(a);
  }
}

}  // namespace
