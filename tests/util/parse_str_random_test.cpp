// Random texts made of the characters the suffix forms are built from, in
// long runs, fed to the parser. Nothing may crash or stall, and what comes
// back must be a piece of what went in. The seed is fixed; KIV_RANDOM_SEED
// chooses another, and a failure prints the seed and the text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "base/text.hpp"
#include "scoped_chdir.hpp"
#include "test_support.hpp"
#include "util/path_with_position.hpp"

namespace kiv {
namespace {

// Pieces a text is built from: the characters of the forms, blanks that are
// White_Space and some that are not, digits of another script, separators,
// multi-byte letters and, in some texts, bytes that are not UTF-8.
const std::string_view kPieces[] = {
    ":", ":", ":", "(", ")", ",", "0", "1", "9", "42", "+", "-", "/", ".", "..", "a", "rs",
    " ", "\t", "\n", "\xC2\xA0", "\xE3\x80\x80", "\xE2\x80\x8B",  // U+00A0, U+3000, U+200B
    "\xD9\xA1", "\xEF\xBC\x93",                                   // Arabic-Indic one, fullwidth three
    "\xC3\xA9", "\xF0\x9F\x98\x80", "\\",
};
const std::string_view kBadBytes[] = {"\xFF", "\x80", "\xC2", "\xE2\x82", "\xF0\x9F\x98", "\xED\xA0\x80"};

std::string random_text(std::mt19937_64& rng, bool allow_bad_bytes) {
  std::uniform_int_distribution<int> shape(0, 9);
  // Mostly short texts, sometimes runs of thousands of pieces.
  size_t runs = shape(rng) < 8 ? rng() % 12 : rng() % 40;
  std::string text;
  for (size_t r = 0; r < runs; ++r) {
    std::string_view piece = kPieces[rng() % std::size(kPieces)];
    if (allow_bad_bytes && rng() % 16 == 0) piece = kBadBytes[rng() % std::size(kBadBytes)];
    size_t repeat = rng() % 4 == 0 ? 1 + rng() % (shape(rng) == 0 ? 3000 : 20) : 1;
    for (size_t k = 0; k < repeat; ++k) text += piece;
  }
  return text;
}

std::string shown(const std::string& text) {
  return text.size() <= 300 ? debug_quoted(text)
                            : debug_quoted(text.substr(0, 300)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::uint64_t seed_from_env() {
  if (const char* s = std::getenv("KIV_RANDOM_SEED")) return std::strtoull(s, nullptr, 10);
  return 20261210;
}

TEST(ParseStrRandom, ReturnsAPrefixOfTheTextOrOfTheTrimmedText) {
  const std::uint64_t seed = seed_from_env();
  SCOPED_TRACE("KIV_RANDOM_SEED=" + std::to_string(seed));
  std::mt19937_64 rng(seed);
  for (int i = 0; i < 10000 && !HasFailure(); ++i) {
    bool bad_bytes = i % 4 == 3;
    std::string text = random_text(rng, bad_bytes);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + shown(text));
    auto got = PathWithPosition::parse_str(text);
    std::string_view trimmed = trim_unicode_white_space(text);
    EXPECT_TRUE(std::string_view(text).starts_with(got.path) || trimmed.starts_with(got.path));
    if (!bad_bytes) {
      EXPECT_TRUE(is_valid_utf8(got.path)) << "cut inside a character";
    }
    if (!got.row && !got.column) {
      // Nothing found: either the text is untouched, or a suffix that gave
      // no number (a run of colons, other digits, an overflow) went.
      EXPECT_TRUE(got.path == text || got.path.size() < trimmed.size());
    }
    std::string written = got.to_string(path_to_string_lossy);
    EXPECT_TRUE(is_valid_utf8(written));
  }
}

TEST(ParsePathWithPositionRandom, ReturnsAnAbsolutePathOrTheParseError) {
  testing::ScopedTempDir tmp;
  const std::uint64_t seed = seed_from_env();
  SCOPED_TRACE("KIV_RANDOM_SEED=" + std::to_string(seed));
  std::mt19937_64 rng(seed + 1);
  // Run from an empty directory so relative texts name nothing that exists.
  testing::ScopedChdir in(tmp.path());
  for (int i = 0; i < 2000 && !HasFailure(); ++i) {
    std::string text = random_text(rng, i % 4 == 3);
    SCOPED_TRACE("case " + std::to_string(i) + ": " + shown(text));
    auto got = parse_path_with_position(text);
    if (got) {
      EXPECT_TRUE(got->starts_with('/')) << *got;
      EXPECT_TRUE(is_valid_utf8(*got));
    } else {
      EXPECT_EQ(got.error().display(), "parsing as path with position " + text);
    }
  }
}

}  // namespace
}  // namespace kiv
