#include "util/path_with_position.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/fs.hpp"
#include "base/text.hpp"
#include "scoped_chdir.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

using std::nullopt;

struct ParseCase {
  std::string_view text;
  std::string_view path;
  std::optional<std::uint32_t> row;
  std::optional<std::uint32_t> column;
};

void expect_parses(const ParseCase& c) {
  SCOPED_TRACE(debug_quoted(c.text));
  auto got = PathWithPosition::parse_str(c.text);
  EXPECT_EQ(got.path, c.path);
  EXPECT_EQ(got.row, c.row);
  EXPECT_EQ(got.column, c.column);
}

TEST(ParseStr, SuffixForms) {
  const ParseCase cases[] = {
      {"src/main.rs:10:5", "src/main.rs", 10, 5},
      {"main.rs:10", "main.rs", 10, nullopt},
      {"main.rs:10:5:", "main.rs", 10, 5},
      {"main.rs::10", "main.rs", 10, nullopt},
      {"main.rs:", "main.rs", nullopt, nullopt},
      {"main.rs(10,5)", "main.rs", 10, 5},
      {"main.rs(10:5)", "main.rs", 10, 5},
      {"main.rs(10)", "main.rs", 10, nullopt},
      {"main.rs(10,5)::", "main.rs", 10, 5},
      {"main.rs:(10,5)", "main.rs", 10, 5},
      {"main.rs:(10)", "main.rs", 10, nullopt},
      {"main.rs:(10,5)abc", "main.rs", 10, 5},
      {"main.rs(10,5)x", "main.rs(10,5)x", nullopt, nullopt},
      {"main.rs", "main.rs", nullopt, nullopt},
      {"main.rs:abc", "main.rs:abc", nullopt, nullopt},
      {"main.rs:22:in", "main.rs", 22, nullopt},
      {"main.rs:10:-1", "main.rs", 10, nullopt},
      {"main.rs:+5", "main.rs", 5, nullopt},
      {"main.rs:-1", "main.rs:-1", nullopt, nullopt},
      {"a:b:10:x", "a:b", 10, nullopt},
      {"main.rs:10:5:6", "main.rs:10", 5, 6},
      {"main.rs:10,5", "main.rs:10,5", nullopt, nullopt},
      {"main.rs:010", "main.rs", 10, nullopt},
      {"main.rs:4294967295", "main.rs", 4294967295u, nullopt},
      {"main.rs:4294967296", "main.rs", nullopt, nullopt},
      {"dir/main.rs:10/", "dir/main.rs", 10, nullopt},
      {"dir:1/main.rs", "dir:1/main.rs", nullopt, nullopt},
      {"(x)a:(1,2)", "(x)a", 1, 2},
      {"main.rs(1,2)(3,4)", "main.rs(1,2)", 3, 4},
      {"main.rs:10(3)", "main.rs:10", 3, nullopt},
      {"C:\\d\\a.rs:10:5", "C:\\d\\a.rs", 10, 5},
      {":(1)", ":", 1, nullopt},  // a name group needs a character: the second form takes the colon
      // No file name: the text as it came.
      {"", "", nullopt, nullopt},
      {"/", "/", nullopt, nullopt},
      {".", ".", nullopt, nullopt},
      {"..", "..", nullopt, nullopt},
      {" . ", " . ", nullopt, nullopt},
      {"x/..:1/..", "x/..:1/..", nullopt, nullopt},
      // Numbers: ASCII digits, an optional '+', 32 bits.
      {"main.rs:0", "main.rs", 0, nullopt},
      {"main.rs:0000000000004", "main.rs", 4, nullopt},
      {"main.rs:+", "main.rs:+", nullopt, nullopt},
      {"main.rs:+5:+6", "main.rs", 5, 6},
      {"main.rs:1:4294967296", "main.rs", 1, nullopt},
      {"main.rs:\xD9\xA1\xD9\xA2", "main.rs", nullopt, nullopt},          // Arabic-Indic 12: removed, no row
      {"main.rs:\xD9\xA1:5", "main.rs", nullopt, 5},                      // a column without a row
      {"main.rs(\xD9\xA1,2)", "main.rs", nullopt, 2},
      // Only the file name is searched; the rest of the path is kept as written.
      {"dir/./main.rs:1", "dir/./main.rs", 1, nullopt},
      {"dir/main.rs:10/.", "dir/main.rs", 10, nullopt},
      {"a:1/b:2", "a:1/b", 2, nullopt},
      {"main.rs\n:3", "main.rs\n", 3, nullopt},       // the dot matches a line feed
      {"a:3\n/", "a:3\n/", nullopt, nullopt},          // '$' is not satisfied before a final line feed
  };
  for (const auto& c : cases) expect_parses(c);
}

TEST(ParseStr, TrimsUnicodeWhiteSpaceBeforeTheSearchOnly) {
  const ParseCase cases[] = {
      {" main.rs:10 ", "main.rs", 10, nullopt},
      {" main.rs ", " main.rs ", nullopt, nullopt},
      {"main.rs:abc ", "main.rs:abc ", nullopt, nullopt},
      {"\tdir/main.rs:4:2\n", "dir/main.rs", 4, 2},
      {"\xE3\x80\x80main.rs:10\xC2\xA0", "main.rs", 10, nullopt},            // U+3000, U+00A0
      {"main.rs:10\xE2\x80\xA8\xE2\x80\x89", "main.rs", 10, nullopt},        // U+2028, U+2009
      {"main.rs:10\xE2\x80\x8B", "main.rs:10\xE2\x80\x8B", nullopt, nullopt},  // U+200B is not White_Space
      // The colon split reads the untrimmed text.
      {"main.rs:22:in ", "main.rs", 22, nullopt},
  };
  for (const auto& c : cases) expect_parses(c);
}

TEST(ParseStr, BytesThatAreNotUtf8AreOrdinaryCharacters) {
  const ParseCase cases[] = {
      {"a\xFF:5:6", "a\xFF", 5, 6},
      {"\xFF:(1,2)", "\xFF", 1, 2},
      {"x\xFF(1,2)", "x\xFF", 1, 2},
      {"d\xFE/a\xE2\x82:3", "d\xFE/a\xE2\x82", 3, nullopt},  // a truncated sequence
      {"main.rs:10\xFF", "main.rs:10\xFF", nullopt, nullopt},
      {"\xA0main.rs:1", "\xA0main.rs", 1, nullopt},          // a lone continuation byte is no blank
      {"main.rs:1\xC2", "main.rs:1\xC2", nullopt, nullopt},  // nor is a lone lead byte
      {" \xFFmain.rs:3 ", "\xFFmain.rs", 3, nullopt},
      {"a\xFF:x:7", "a\xFF:x", 7, nullopt},
  };
  for (const auto& c : cases) expect_parses(c);
}

TEST(PathWithPositionToString, WritesTheRowAndTheColumnOnlyAfterARow) {
  const auto plain = [](std::string_view p) { return std::string(p); };
  EXPECT_EQ((PathWithPosition{"/w/a.rs", 10, 5}.to_string(plain)), "/w/a.rs:10:5");
  EXPECT_EQ((PathWithPosition{"/w/a.rs", 0, nullopt}.to_string(plain)), "/w/a.rs:0");
  EXPECT_EQ((PathWithPosition{"/w/a.rs", nullopt, 5}.to_string(plain)), "/w/a.rs");
  EXPECT_EQ((PathWithPosition{"/w/a.rs", 4294967295u, 7}.to_string(plain)), "/w/a.rs:4294967295:7");
  EXPECT_EQ((PathWithPosition{"/w/\xFF", 1, nullopt}.to_string(path_to_string_lossy)), "/w/\xEF\xBF\xBD:1");
  EXPECT_EQ((PathWithPosition{"x", 1, nullopt}.to_string([](std::string_view p) { return "<" + std::string(p) + ">"; })),
            "<x>:1");
}

TEST(PathWithPositionMapPath, KeepsThePositionOrPassesTheErrorOn) {
  PathWithPosition value{"a.rs", 3, 4};
  auto mapped = value.map_path([](const std::string& p) -> Result<std::string> { return "/w/" + p; });
  ASSERT_TRUE(mapped);
  EXPECT_EQ(*mapped, (PathWithPosition{"/w/a.rs", 3, 4}));
  auto failed = value.map_path([](const std::string&) -> Result<std::string> {
    return with_context(fail_os(ENOENT), "inner");
  });
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), "inner: No such file or directory (os error 2)");
  EXPECT_EQ(failed.error().os_code(), ENOENT);
}

TEST(PathToStringLossy, ReplacesEachMaximalIllFormedSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(path_to_string_lossy("/w/caf\xC3\xA9"), "/w/caf\xC3\xA9");
  EXPECT_EQ(path_to_string_lossy("/w/\xE2\x82/\xFF\xFE"), "/w/" + r + "/" + r + r);
}

// A working directory w holding src/main.rs, a file literally named
// "main.rs:10", a link to src, and a directory whose name is not UTF-8.
class ParsePathWithPositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = kiv::canonicalize(tmp_.path()).value();
    w_ = root_ + "/w";
    ASSERT_EQ(::mkdir(w_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((w_ + "/src").c_str(), 0755), 0);
    testing::write_file(w_ + "/src/main.rs", "fn main() {}\n");
    testing::write_file(w_ + "/main.rs:10", "");
    ASSERT_EQ(::symlink("src", (w_ + "/link").c_str()), 0);
    ASSERT_EQ(::mkdir((w_ + "/d\xFF").c_str(), 0755), 0);
  }

  testing::ScopedTempDir tmp_;
  std::string root_;
  std::string w_;
};

TEST_F(ParsePathWithPositionTest, ResolvesThroughTheNearestExistingAncestor) {
  testing::ScopedChdir in(w_);
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string argument;
    std::string expected;
  };
  const Case cases[] = {
      {"src/main.rs:10:5", w_ + "/src/main.rs:10:5"},
      {"src/main.rs", w_ + "/src/main.rs"},
      {" src/main.rs:10 ", w_ + "/src/main.rs:10"},
      {"src/new.rs:3", w_ + "/src/new.rs:3"},
      {"new/dir/file.rs", w_ + "/new/dir/file.rs"},
      {"new/dir/", w_ + "/new/dir"},
      {"./new.rs(4,2)", w_ + "/new.rs:4:2"},
      {"/nonexistent/x.rs:3", "/nonexistent/x.rs:3"},
      {w_ + "//src/./new.rs:7", w_ + "/src/new.rs:7"},
      {"", w_},
      {".", w_},
      {"src/..", w_},
      {"src/../new.rs:2", w_ + "/new.rs:2"},          // the existing "src/.." is canonicalised
      {"main.rs:10", w_ + "/main.rs:10"},              // an existing file with that very name
      {"src/main.rs/x.rs:1", w_ + "/src/main.rs/x.rs:1"},  // a file in the way only moves the walk up
      {"link/main.rs:3", w_ + "/src/main.rs:3"},       // links in the existing part are resolved
      {"link/new/a.rs:3", w_ + "/src/new/a.rs:3"},
      {"d\xFF/new.rs:2", w_ + "/d" + r + "/new.rs:2"},
      {"d\xFF", w_ + "/d" + r},
      {"x\xFE.rs:4", w_ + "/x" + r + ".rs:4"},
      // A NUL ends no path early: the text is no existing file.
      {std::string("src/main.rs\0x:1", 15), w_ + std::string("/src/main.rs\0x:1", 16)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(debug_quoted(c.argument));
    auto got = parse_path_with_position(c.argument);
    ASSERT_TRUE(got) << got.error().display();
    EXPECT_EQ(*got, c.expected);
  }
}

TEST_F(ParsePathWithPositionTest, FailsWhenTheWalkMeetsADotDotBeforeAnExistingAncestor) {
  testing::ScopedChdir in(w_);
  for (std::string argument : {"nothing/..:10", "nothing/../x.rs:1", "new/../../x/..:2"}) {
    SCOPED_TRACE(argument);
    auto got = parse_path_with_position(argument);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().display(), "parsing as path with position " + argument);
  }
}

TEST_F(ParsePathWithPositionTest, NeedsTheWorkingDirectoryUnlessTheArgumentExists) {
  std::string gone = root_ + "/gone";
  ASSERT_EQ(::mkdir(gone.c_str(), 0755), 0);
  testing::ScopedChdir in(gone);
  ASSERT_EQ(::rmdir(gone.c_str()), 0);

  for (std::string argument : {"new.rs:3", "/nonexistent/x.rs:3"}) {
    SCOPED_TRACE(argument);
    auto got = parse_path_with_position(argument);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().display(), "retrieving current directory: No such file or directory (os error 2)");
    EXPECT_EQ(got.error().os_code(), ENOENT);
  }
  // An existing path as typed never needs it.
  EXPECT_EQ(parse_path_with_position(w_ + "/src/main.rs").value(), w_ + "/src/main.rs");
}

TEST(ParseStrConcurrency, ThreadsShareTheCompiledPattern) {
  // Run first in its process (ctest runs each test alone), so the threads
  // also race for the one-time compilation.
  std::vector<std::thread> threads;
  std::vector<PathWithPosition> results(8);
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&results, i] {
      for (int k = 0; k < 200; ++k) results[i] = PathWithPosition::parse_str("src/main.rs:" + std::to_string(i) + ":5");
    });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i)
    EXPECT_EQ(results[i], (PathWithPosition{"src/main.rs", static_cast<std::uint32_t>(i), 5}));
}

}  // namespace
}  // namespace kiv
