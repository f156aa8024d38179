// Random texts made of the characters the suffix forms are built from, in
// long runs, fed to the parser. Nothing may crash or stall, and what comes
// back must be a piece of what went in. The seed is fixed; KIV_RANDOM_SEED
// chooses another, and a failure prints the seed and the text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "base/fs.hpp"
#include "base/text.hpp"
#include "scoped_chdir.hpp"
#include "test_support.hpp"
#include "util/path_text.hpp"
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

// The walk up to the nearest existing ancestor, one canonicalisation per
// level, as the simplest reading of it: the launcher's walk must agree on
// every argument, whatever its shortcuts.
Result<std::string> resolve_level_by_level(const std::string& path, std::string_view argument) {
  KIV_TRY_ASSIGN(std::string cwd, current_dir());
  std::string_view probe = path;
  std::vector<std::string_view> tail;
  while (true) {
    if (probe.find('\0') == std::string_view::npos) {
      if (auto canonical = canonicalize(std::string(probe))) return push_missing_components(*canonical, tail);
    }
    if (probe.empty() || same_components(probe, cwd)) return push_missing_components(cwd, tail);
    KIV_TRY_ASSIGN(std::string_view name, require_file_name(probe, argument));
    tail.push_back(name);
    probe = parent_path(probe);
  }
}

TEST(ParsePathWithPositionRandom, AgreesWithALevelByLevelWalkInATreeWithLinksAndFiles) {
  testing::ScopedTempDir tmp;
  namespace fs = std::filesystem;
  const std::string root = fs::canonical(tmp.path()).string();
  fs::create_directories(root + "/d/e/f");
  testing::write_file(root + "/d/file", "x");
  testing::write_file(root + "/d/e/f/g.rs", "x");
  fs::create_directory_symlink(root + "/d/e", root + "/d/link");
  fs::create_symlink(root + "/d/missing-target", root + "/d/dangling");
  fs::create_symlink(root + "/d/loop", root + "/d/loop");
  fs::create_directories(root + "/d/closed/inner");
  const std::string_view pieces[] = {"d", "e", "f", "g.rs", "file", "link", "dangling", "loop", "closed",
                                     "inner", "missing", "..", ".", "", "g.rs:3", "x:4:5", "(1,2)"};
  const std::uint64_t seed = seed_from_env();
  SCOPED_TRACE("KIV_RANDOM_SEED=" + std::to_string(seed));
  std::mt19937_64 rng(seed + 2);
  testing::ScopedChdir in(root + "/d");
  for (int i = 0; i < 3000 && !HasFailure(); ++i) {
    std::string text = i % 3 == 0 ? root : "";
    size_t count = 1 + rng() % (i % 50 == 0 ? 400 : 8);
    for (size_t n = 0; n < count; ++n) {
      if (!text.empty() || n > 0) text += '/';
      text += pieces[rng() % std::size(pieces)];
    }
    SCOPED_TRACE("case " + std::to_string(i) + ": " + shown(text));
    auto got = parse_path_with_position(text);
    Result<std::string> expected = [&]() -> Result<std::string> {
      if (text.find('\0') == std::string::npos) {
        if (auto whole = canonicalize(text)) return path_to_string_lossy(*whole);
      }
      PathWithPosition value = PathWithPosition::parse_str(text);
      KIV_TRY_ASSIGN(value, value.map_path([&](const std::string& p) { return resolve_level_by_level(p, text); }));
      return value.to_string(path_to_string_lossy);
    }();
    ASSERT_EQ(got.has_value(), expected.has_value()) << (got ? *got : got.error().display());
    if (got) {
      EXPECT_EQ(*got, *expected);
    } else {
      EXPECT_EQ(got.error().display(), expected.error().display());
    }
  }
}

}  // namespace
}  // namespace kiv
