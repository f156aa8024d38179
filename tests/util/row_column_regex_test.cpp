#include "util/row_column_regex.hpp"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <array>
#include <random>
#include <regex>
#include <thread>
#include <vector>

#include "base/text.hpp"

namespace kiv {
namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

TEST(RowColumnRegexText, IsTheFreeSpacingTextWithItsLayout) {
  EXPECT_EQ(ROW_COLUMN_REGEX_TEXT.size(), 470u);
  auto lines = lines_of(ROW_COLUMN_REGEX_TEXT);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "(?xs)");
  for (size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(i + 1);
    size_t line = i + 1;
    bool four = line <= 2 || (line >= 6 && line <= 8) || (line >= 12 && line <= 15) || line == 21;
    size_t indent = lines[i].find_first_not_of(' ');
    EXPECT_EQ(indent, four ? 4u : 8u);
  }
  EXPECT_EQ(lines[2], R"(        \((\d+)[,:](\d+)\) # filename:(row,column), filename:(row:column))");
  EXPECT_EQ(lines[17], R"(        \:+(\d+)\:*()$       # filename:row)");
}

TEST(ToRe2Syntax, TurnsTheConstantIntoCompactSyntax) {
  EXPECT_EQ(to_re2_syntax(ROW_COLUMN_REGEX_TEXT),
            R"((?s)([^\(]+)\:(?:\((\p{Nd}+)[,:](\p{Nd}+)\)|\((\p{Nd}+)\)())|)"
            R"(([^\(]+)(?:\((\p{Nd}+)[,:](\p{Nd}+)\)|\((\p{Nd}+)\)())\:*$|)"
            R"((.+?)(?:\:+(\p{Nd}+)\:(\p{Nd}+)\:*$|\:+(\p{Nd}+)\:*()$|\:+()()$))");
}

TEST(ToRe2Syntax, KeepsClassesAndEscapesAsWritten) {
  struct Case {
    std::string_view in, out;
  };
  const Case cases[] = {
      {"a b\tc\n", "abc"},
      {"a # comment (with a group\nb", "ab"},
      {"a # comment to the end", "a"},
      {"[ #]x", "[ #]x"},                  // blanks and '#' inside a class are literals
      {"[]a ]b", "[]a ]b"},                // a leading ']' does not close the class
      {"[^] ]b", "[^] ]b"},
      {"\\ \\#x", "\\ \\#x"},              // escaped blank and '#' are literals
      {"[\\d,]\\d+", "[\\p{Nd},]\\p{Nd}+"},
      {"\\\\d", "\\\\d"},                  // an escaped backslash, then a plain d
      {"\\[ a]", "\\[a]"},                 // an escaped '[' opens no class
      {"(?x)a", "a"},
      {"(?xs)a", "(?s)a"},
      {"(?ix:a b)", "(?i:ab)"},
      {"(?s-x)a", "(?s)a"},
      {"(?:a | b)", "(?:a|b)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(to_re2_syntax(c.in), c.out);
  }
  EXPECT_EQ(to_re2_syntax("[\\d,]\\d+ \\\\d", DigitClass::Ascii), "[[0-9],][0-9]+\\\\d");
}

struct Groups {
  std::array<int, 3> numbers;  // the three groups that take part
  std::string_view name, row, column;
};

// The leftmost match's participating groups, or nothing.
std::optional<Groups> participating(std::string_view text) {
  std::array<re2::StringPiece, 18> groups;
  if (!ROW_COLUMN_REGEX.get().Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED,
                                    groups.data(), 18))
    return std::nullopt;
  Groups out{};
  std::array<std::string_view, 3> texts;
  std::size_t n = 0;
  for (std::size_t i = 1; i < groups.size(); ++i) {
    if (groups[i].data() == nullptr) continue;
    if (n == 3) return Groups{{-1, -1, -1}, {}, {}, {}};  // more than three: the shape is broken
    out.numbers[n] = static_cast<int>(i);
    texts[n] = std::string_view(groups[i].data(), groups[i].size());
    ++n;
  }
  if (n != 3) return Groups{{-1, -1, -1}, {}, {}, {}};
  out.name = texts[0];
  out.row = texts[1];
  out.column = texts[2];
  return out;
}

// RE2 must report the captures of a leftmost-first backtracking search: the
// alternative and the lazy file-name group that the parse results rest on.
TEST(RowColumnRegex, ReportsLeftmostFirstCaptures) {
  struct Case {
    std::string_view text;
    std::optional<Groups> expected;
  };
  const Case cases[] = {
      {"main.rs:10:5", Groups{{11, 12, 13}, "main.rs", "10", "5"}},
      {"main.rs:10", Groups{{11, 14, 15}, "main.rs", "10", ""}},
      {"main.rs:10:5:", Groups{{11, 12, 13}, "main.rs", "10", "5"}},
      {"main.rs::10", Groups{{11, 14, 15}, "main.rs", "10", ""}},
      {"main.rs:", Groups{{11, 16, 17}, "main.rs", "", ""}},
      {"main.rs(10,5)", Groups{{6, 7, 8}, "main.rs", "10", "5"}},
      {"main.rs(10:5)", Groups{{6, 7, 8}, "main.rs", "10", "5"}},
      {"main.rs(10)", Groups{{6, 9, 10}, "main.rs", "10", ""}},
      {"main.rs(10,5)::", Groups{{6, 7, 8}, "main.rs", "10", "5"}},
      {"main.rs:(10,5)", Groups{{1, 2, 3}, "main.rs", "10", "5"}},
      {"main.rs:(10)", Groups{{1, 4, 5}, "main.rs", "10", ""}},
      {"main.rs:(10,5)abc", Groups{{1, 2, 3}, "main.rs", "10", "5"}},
      {"main.rs(10,5)x", std::nullopt},
      {"main.rs", std::nullopt},
      {"main.rs:abc", std::nullopt},
      {"main.rs:22:in", std::nullopt},
      {"main.rs:10:-1", std::nullopt},
      {"main.rs:+5", std::nullopt},
      {"main.rs:-1", std::nullopt},
      {"a:b:10:x", std::nullopt},
      {"main.rs:10:5:6", Groups{{11, 12, 13}, "main.rs:10", "5", "6"}},
      {"main.rs:10,5", std::nullopt},
      {"main.rs:010", Groups{{11, 14, 15}, "main.rs", "010", ""}},
      {"main.rs:4294967296", Groups{{11, 14, 15}, "main.rs", "4294967296", ""}},
      {"(x)a:(1,2)", Groups{{1, 2, 3}, "x)a", "1", "2"}},
      {"main.rs(1,2)(3,4)", Groups{{6, 7, 8}, "1,2)", "3", "4"}},
      {"main.rs:10(3)", Groups{{6, 9, 10}, "main.rs:10", "3", ""}},
      {"C:\\d\\a.rs:10:5", Groups{{11, 12, 13}, "C:\\d\\a.rs", "10", "5"}},
      {":(1)", Groups{{6, 9, 10}, ":", "1", ""}},          // the first file-name group cannot be empty
      {"a(:(1,2)", Groups{{6, 7, 8}, ":", "1", "2"}},
      {"a:\xD9\xA1\xD9\xA2", Groups{{11, 14, 15}, "a", "\xD9\xA1\xD9\xA2", ""}},  // Arabic-Indic digits
      {"a\n:3", Groups{{11, 14, 15}, "a\n", "3", ""}},                            // the dot takes a line feed
      {"a:3\n", std::nullopt},                                                     // '$' only at the very end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = participating(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got) continue;
    EXPECT_EQ(got->numbers, c.expected->numbers);
    EXPECT_EQ(got->name, c.expected->name);
    EXPECT_EQ(got->row, c.expected->row);
    EXPECT_EQ(got->column, c.expected->column);
  }
}

// The same pattern for std::regex, a backtracking matcher, written by hand in
// its syntax. On short ASCII texts it is the reference for the captures.
TEST(RowColumnRegex, AgreesWithABacktrackingMatcherOnShortTexts) {
  const std::regex reference(
      R"(([^(]+):(?:\((\d+)[,:](\d+)\)|\((\d+)\)())|([^(]+)(?:\((\d+)[,:](\d+)\)|\((\d+)\)()):*$|)"
      R"(([\s\S]+?)(?::+(\d+):(\d+):*$|:+(\d+):*()$|:+()()$))",
      std::regex::ECMAScript);
  ASSERT_EQ(reference.mark_count(), 17u);
  const std::string_view alphabet = "::::(()),,0123a.\n";
  std::mt19937_64 rng(7);
  for (int i = 0; i < 5000 && !HasFailure(); ++i) {
    std::string text;
    for (size_t n = 1 + rng() % 16; n > 0; --n) text += alphabet[rng() % alphabet.size()];
    SCOPED_TRACE(text);
    std::smatch m;
    bool found = std::regex_search(text, m, reference);
    auto got = participating(text);
    ASSERT_EQ(got.has_value(), found);
    if (!found) continue;
    std::array<int, 3> numbers{};
    std::array<std::size_t, 3> groups{};
    std::size_t n = 0;
    for (std::size_t g = 1; g <= 17 && n < 3; ++g)
      if (m[g].matched) groups[n++] = g;
    for (std::size_t k = 0; k < 3; ++k) numbers[k] = static_cast<int>(groups[k]);
    EXPECT_EQ(got->numbers, numbers);
    EXPECT_EQ(got->name, m[groups[0]].str());
    EXPECT_EQ(got->name.data() - text.data(), m.position(groups[0]));
    EXPECT_EQ(got->row, m[groups[1]].str());
    EXPECT_EQ(got->column, m[groups[2]].str());
  }
}

// The ASCII form is what every all-ASCII name is searched with: on such a
// text it must report RE2's own Unicode captures, every group of them.
TEST(AsciiRowColumnRegex, GivesTheUnicodeFormsCapturesOnAsciiText) {
  const RE2& unicode = ROW_COLUMN_REGEX.get();
  const RE2& ascii = ASCII_ROW_COLUMN_REGEX.get();
  const std::string_view alphabet = "::::::((()),,,0123456789a.\n\x01\x7F -";
  std::mt19937_64 rng(13);
  int matched = 0;
  for (int i = 0; i < 20000 && !HasFailure(); ++i) {
    std::string text;
    for (size_t n = 1 + rng() % (i % 100 == 0 ? 3000 : 24); n > 0; --n) text += alphabet[rng() % alphabet.size()];
    SCOPED_TRACE(text.size() < 200 ? text : text.substr(0, 200) + "...");
    ASSERT_EQ(&row_column_regex_for(text), &ascii);
    re2::StringPiece in(text.data(), text.size());
    std::array<re2::StringPiece, 18> by_unicode, by_ascii;
    bool found = unicode.Match(in, 0, text.size(), RE2::UNANCHORED, by_unicode.data(), 18);
    ASSERT_EQ(ascii.Match(in, 0, text.size(), RE2::UNANCHORED, by_ascii.data(), 18), found);
    if (!found) continue;
    ++matched;
    for (std::size_t g = 0; g < by_ascii.size(); ++g) {
      SCOPED_TRACE(g);
      EXPECT_EQ(by_ascii[g].data(), by_unicode[g].data());
      EXPECT_EQ(by_ascii[g].size(), by_unicode[g].size());
    }
  }
  EXPECT_GT(matched, 5000);
  EXPECT_EQ(&row_column_regex_for("a\xC3\xA9:1"), &unicode);
  EXPECT_EQ(&row_column_regex_for("\xD9\xA1"), &unicode);
}

TEST(IsDecimalDigit, IsWhatRe2CallsNd) {
  const RE2 nd("\\p{Nd}");
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (is_decimal_digit(cp) != RE2::FullMatch(encode_utf8(cp), nd)) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(cp);
      break;
    }
  }
}

// Long spans take the groups from the pattern's shape instead of RE2's
// capture engines; both must give the same groups on every match.
TEST(RowColumnGroupsByShape, AgreesWithTheEngine) {
  // Single characters, and whole suffix forms so that matches of every
  // alternative come up often.
  const std::string_view pieces[] = {":", ":", ":", "(", ")", ",", "0", "7", "42", "a", ".", "\n",
                                     "\xD9\xA1", "\xEF\xBC\x93", "\xC3\xA9", "\xF0\x9F\x98\x80",
                                     ":(", "(1,2)", "(3)", "(4:5)", ":6:7", "::8"};
  std::mt19937_64 rng(11);
  int matched = 0;
  for (int i = 0; i < 10000 && !HasFailure(); ++i) {
    std::string text;
    bool long_text = i % 50 == 0;
    for (size_t n = 1 + rng() % (long_text ? 400 : 12); n > 0; --n) {
      std::string_view piece = pieces[rng() % std::size(pieces)];
      size_t repeat = rng() % 5 == 0 ? 1 + rng() % (long_text ? 200 : 6) : 1;
      for (size_t k = 0; k < repeat; ++k) text += piece;
    }
    SCOPED_TRACE(text.size() < 200 ? text : text.substr(0, 200) + "...");
    re2::StringPiece whole;
    if (!ROW_COLUMN_REGEX.get().Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED,
                                      &whole, 1))
      continue;
    ++matched;
    size_t begin = static_cast<size_t>(whole.data() - text.data());
    size_t end = begin + whole.size();
    auto by_engine = row_column_groups_by_engine(text, begin, end);
    auto by_shape = row_column_groups_by_shape(text, begin, end);
    ASSERT_TRUE(by_shape);
    EXPECT_EQ(*by_shape, by_engine);
    EXPECT_EQ(search_row_column(text), by_engine);
  }
  EXPECT_GT(matched, 1500);  // the texts exercise the pattern, not only misses
}

TEST(SearchRowColumn, LongSpansGiveTheSameGroupsAsShortOnes) {
  struct Case {
    std::string text;
    std::array<int, 3> numbers;
    size_t name_end;
  };
  const std::string colons(5000, ':'), as(5000, 'a');
  std::string rows;
  for (int i = 0; i < 2500; ++i) rows += "1:";
  const Case cases[] = {
      {colons, {11, 16, 17}, 1},
      {as + ":10:5", {11, 12, 13}, 5000},
      {rows + "2", {11, 12, 13}, 4997},  // ...1:1:2: the last two numbers
      {"(" + rows, {11, 12, 13}, 4996},  // ...1:1:1:
      {as + ":(1,2)" + as, {1, 2, 3}, 5000},
      {as + "(1)" + colons, {6, 9, 10}, 5000},
      {"a:" + std::string(5000, '0') + "1", {11, 14, 15}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    auto got = search_row_column(c.text);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->numbers, c.numbers);
    EXPECT_EQ(got->name_end, c.name_end);
    re2::StringPiece whole;
    ASSERT_TRUE(ROW_COLUMN_REGEX.get().Match(c.text, 0, c.text.size(), RE2::UNANCHORED, &whole, 1));
    size_t begin = static_cast<size_t>(whole.data() - c.text.data());
    EXPECT_EQ(*got, row_column_groups_by_engine(c.text, begin, begin + whole.size()));
  }
}

TEST(RowColumnRegex, IsCompiledOnceEvenWhenThreadsArriveTogether) {
  std::vector<const re2::RE2*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = &ROW_COLUMN_REGEX.get(); });
  for (auto& t : threads) t.join();
  for (const auto* regex : seen) EXPECT_EQ(regex, seen[0]);
  EXPECT_EQ(seen[0]->NumberOfCapturingGroups(), 17);
}

}  // namespace
}  // namespace kiv
