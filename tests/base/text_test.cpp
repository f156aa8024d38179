#include "base/text.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace kiv {
namespace {

TEST(Utf8, ValidityAndLossyConversion) {
  struct Case {
    std::string bytes;
    bool valid;
    std::string lossy;
  };
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const Case cases[] = {
      {"", true, ""},
      {"plain ascii", true, "plain ascii"},
      {"caf\xC3\xA9", true, "caf\xC3\xA9"},
      {"\xF0\x9F\x98\x80", true, "\xF0\x9F\x98\x80"},
      {"a\xFFz", false, "a" + r + "z"},
      {"\xC0\xAF", false, r + r},                    // overlong: each byte alone
      {"\xE0\x80\xAF", false, r + r + r},            // E0 needs A0..BF
      {"\xED\xA0\x80", false, r + r + r},            // surrogate
      {"\xF4\x90\x80\x80", false, r + r + r + r},    // above U+10FFFF
      {"\xE2\x82", false, r},                        // truncated: one maximal subpart
      {"\xE2\x82z", false, r + "z"},
      {"\xF0\x9F\x98", false, r},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", false, r + "\xF0\x9F\x98\x80"},
      {"\x80\x80", false, r + r},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
    EXPECT_EQ(utf8_lossy(c.bytes), c.lossy);
  }
}

TEST(Utf8, OneDecodingStep) {
  using enum Utf8Status;
  struct Case {
    std::string bytes;
    Utf8Step step;
  };
  const char32_t r = 0xFFFD;
  const Case cases[] = {
      {"A", {'A', 1, Valid}},
      {std::string(1, '\0'), {0, 1, Valid}},
      {"\xC3\xA9x", {0xE9, 2, Valid}},  // one sequence only
      {"\xC2\x80", {0x80, 2, Valid}},   // the bounds of each length
      {"\xDF\xBF", {0x7FF, 2, Valid}},
      {"\xE0\xA0\x80", {0x800, 3, Valid}},
      {"\xED\x9F\xBF", {0xD7FF, 3, Valid}},
      {"\xEE\x80\x80", {0xE000, 3, Valid}},
      {"\xEF\xBF\xBF", {0xFFFF, 3, Valid}},
      {"\xF0\x90\x80\x80", {0x10000, 4, Valid}},
      {"\xF4\x8F\xBF\xBF", {0x10FFFF, 4, Valid}},
      // Overlong forms: the lead, or the lead and a first byte out of range.
      {"\xC0\xAF", {r, 1, Invalid}},
      {"\xC1\xBF", {r, 1, Invalid}},
      {"\xE0\x9F\xBF", {r, 1, Invalid}},
      {"\xF0\x8F\xBF\xBF", {r, 1, Invalid}},
      // Surrogates.
      {"\xED\xA0\x80", {r, 1, Invalid}},
      {"\xED\xBF\xBF", {r, 1, Invalid}},
      // Above U+10FFFF, and leads of no sequence at all.
      {"\xF4\x90\x80\x80", {r, 1, Invalid}},
      {"\xF5\x80\x80\x80", {r, 1, Invalid}},
      {"\xF8\x88\x80\x80\x80", {r, 1, Invalid}},
      {"\xFF", {r, 1, Invalid}},
      // Lone continuation bytes.
      {"\x80", {r, 1, Invalid}},
      {"\xBF\xBF", {r, 1, Invalid}},
      // A sequence cut short by a byte: the maximal subpart, up to that byte.
      {"\xC3(", {r, 1, Invalid}},
      {"\xC3\xC3\xA9", {r, 1, Invalid}},
      {"\xE2\x82(", {r, 2, Invalid}},
      {"\xF0\x9F\x98(", {r, 3, Invalid}},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", {r, 3, Invalid}},
      // A sequence cut short by the end.
      {"\xC3", {r, 1, Incomplete}},
      {"\xE2", {r, 1, Incomplete}},
      {"\xE2\x82", {r, 2, Incomplete}},
      {"\xF0\x9F\x98", {r, 3, Incomplete}},
      {"", {r, 0, Incomplete}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(debug_quoted(c.bytes));
    Utf8Step step = decode_utf8_step(c.bytes);
    EXPECT_EQ(step.cp, c.step.cp);
    EXPECT_EQ(step.length, c.step.length);
    EXPECT_EQ(step.status, c.step.status);
  }
}

TEST(Utf8, ValidPrefixEndsAtTheFirstFault) {
  EXPECT_EQ(valid_utf8_prefix(""), 0u);
  EXPECT_EQ(valid_utf8_prefix("abc"), 3u);
  EXPECT_EQ(valid_utf8_prefix("\xFF"), 0u);
  EXPECT_EQ(valid_utf8_prefix("ab\xE2\x82"), 2u);
  EXPECT_EQ(valid_utf8_prefix("\xC3\xA9\x80"), 2u);
  EXPECT_EQ(valid_utf8_prefix("a\xF0\x9F\x98\x80" "b\xED\xA0\x80" "c"), 6u);
}

TEST(Utf8, TrimsUnicodeWhiteSpaceOnly) {
  EXPECT_EQ(trim_unicode_white_space("  stable\n"), "stable");
  EXPECT_EQ(trim_unicode_white_space("\xE3\x80\x80x\xC2\xA0"), "x");           // U+3000, U+00A0
  EXPECT_EQ(trim_unicode_white_space("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");       // U+200B is not White_Space
  EXPECT_EQ(trim_unicode_white_space("\xC2\x85\xE2\x80\xA8"), "");             // U+0085, U+2028
  EXPECT_EQ(trim_unicode_white_space("a b"), "a b");
}

TEST(DebugQuoted, EscapesLikeAPathInAMessage) {
  EXPECT_EQ(debug_quoted("/tmp/.tmpAbc123"), "\"/tmp/.tmpAbc123\"");
  EXPECT_EQ(debug_quoted("a\"b\\c\n"), "\"a\\\"b\\\\c\\n\"");
  EXPECT_EQ(debug_quoted("x\xFFy"), "\"x\\xFFy\"");
  EXPECT_EQ(debug_quoted("\x1B[0m\xC2\x85"), "\"\\u{1b}[0m\\u{85}\"");
  EXPECT_EQ(debug_quoted(std::string("\x01", 1)), "\"\\u{1}\"");
}

TEST(EnvText, InvalidUtf8CountsAsUnsetEmptyAsSet) {
  ::setenv("KIV_TEST_VAR", "\xFF", 1);
  EXPECT_FALSE(env_text("KIV_TEST_VAR"));
  EXPECT_EQ(env_bytes("KIV_TEST_VAR"), "\xFF");
  ::setenv("KIV_TEST_VAR", "", 1);
  EXPECT_EQ(env_text("KIV_TEST_VAR"), "");
  ::unsetenv("KIV_TEST_VAR");
  EXPECT_FALSE(env_text("KIV_TEST_VAR"));
}

TEST(CaptureEnvironment, KeepsTextVariablesWithTheirValues) {
  testing::ScopedEnv text("KIV_TEST_CAPTURE", "a=b");
  testing::ScopedEnv bytes("KIV_TEST_BYTES", "\xFF");
  testing::ScopedEnv empty("KIV_TEST_EMPTY", "");
  auto env = capture_environment();
  EXPECT_EQ(env["KIV_TEST_CAPTURE"], "a=b");
  EXPECT_EQ(env.count("KIV_TEST_EMPTY"), 1u);
  EXPECT_EQ(env["KIV_TEST_EMPTY"], "");
  EXPECT_EQ(env.count("KIV_TEST_BYTES"), 0u);
}

TEST(ParseAsciiDecimal, DigitsOnlyUpToTheLimit) {
  struct Case {
    std::string_view text;
    std::uint64_t max;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"0", 9, 0},
      {"7", 5, std::nullopt},  // a single digit above the limit
      {"5", 5, 5},
      {"007", 9, 7},
      {"4294967295", 4294967295u, 4294967295u},
      {"4294967296", 4294967295u, std::nullopt},
      {"18446744073709551615", UINT64_MAX, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, std::nullopt},
      {"99999999999999999999999", UINT64_MAX, std::nullopt},
      {"", 9, std::nullopt},
      {"+1", 9, std::nullopt},
      {"-1", 9, std::nullopt},
      {"1 ", 9, std::nullopt},
      {"\xD9\xA1", 9, std::nullopt},  // ARABIC-INDIC DIGIT ONE is not ASCII
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_ascii_decimal(c.text, c.max), c.expected);
  }
}

}  // namespace
}  // namespace kiv
