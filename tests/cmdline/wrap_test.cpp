#include "cmdline/wrap.hpp"

#include <gtest/gtest.h>

namespace kiv::cmdline {
namespace {

TEST(WrapText, BreaksBetweenWordsAtTheWidth) {
  struct Case {
    const char* text;
    std::size_t width;
    const char* expected;
  };
  const Case cases[] = {
      {"aaa bbb ccc", 11, "aaa bbb ccc"},
      {"aaa bbb ccc", 7, "aaa bbb\nccc"},  // "bbb" ends exactly at 7: it fits
      {"aaa bbb ccc", 6, "aaa\nbbb\nccc"},
      {"aaa   bbb", 8, "aaa\nbbb"},        // blanks before a break are dropped
      {"aaa   bbb", 9, "aaa   bbb"},       // the blanks count toward the width
      {"averylongword x", 4, "averylongword\nx"},
      {"one two", 0, "one\ntwo"},
      {"    indented text here", 14, "    indented\n    text here"},
      // The first word never moves, even when the indent alone fills the line.
      {"    `kiv`", 0, "    `kiv`"},
      {"  a b", 0, "  a\n  b"},
      {"first line\n  second line", 8, "first\nline\n  second\n  line"},
      {"para one\n\npara two", 100, "para one\n\npara two"},
      {"trailing   \n", 100, "trailing"},
      // Escape sequences take no room.
      {"\x1b[1mbold\x1b[0m word", 9, "\x1b[1mbold\x1b[0m word"},
      // Only blanks separate words.
      {"a\tb c", 0, "a\tb\nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " @" + std::to_string(c.width));
    EXPECT_EQ(wrap_text(c.text, c.width), c.expected);
  }
}

TEST(IndentLines, IndentsEveryLineAfterTheFirstEmptyOnesIncluded) {
  EXPECT_EQ(indent_lines("a\n\nb", 3), "a\n   \n   b");
  EXPECT_EQ(indent_lines("a", 3), "a");
}

}  // namespace
}  // namespace kiv::cmdline
