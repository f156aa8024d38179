#include "util/path_text.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(PathText, FileNameAndParent) {
  struct Case {
    std::string_view path;
    std::optional<std::string_view> name;
    std::string_view parent;
  };
  const Case cases[] = {
      {"", std::nullopt, ""},
      {"/", std::nullopt, "/"},
      {"//", std::nullopt, "//"},
      {".", std::nullopt, "."},
      {"./", std::nullopt, "./"},
      {"./.", std::nullopt, "./."},
      {"/.", std::nullopt, "/."},
      {"..", std::nullopt, ""},
      {"a/..", std::nullopt, "a"},
      {"a/../", std::nullopt, "a"},
      {"a", "a", ""},
      {"a/", "a", ""},
      {"/a", "a", "/"},
      {"//a", "a", "/"},
      {"./a", "a", "."},
      {"a/b", "b", "a"},
      {"a//b//", "b", "a"},
      {"a/./b", "b", "a"},
      {"a/b/.", "b", "a"},
      {"a/b/./", "b", "a"},
      {"/./b", "b", "/"},
      {"../b", "b", ".."},
      {"a/...", "...", "a"},
      {"a/.b", ".b", "a"},
      {"a\\b", "a\\b", ""},  // a backslash is an ordinary character
      {"d\xFF/n\xFE", "n\xFE", "d\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(file_name(c.path), c.name);
    EXPECT_EQ(parent_path(c.path), c.parent);
  }
}

TEST(PathText, SameComponents) {
  struct Case {
    std::string_view a, b;
    bool same;
  };
  const Case cases[] = {
      {"/w/src", "/w/src", true},
      {"/w//src/", "/w/src", true},
      {"/w/./src/.", "/w/src", true},
      {"//w", "/w", true},
      {"/w/src", "/w", false},
      {"/w", "/w/src", false},
      {"w/src", "/w/src", false},
      {"./w", "w", false},  // a leading "." counts
      {"/w/../w", "/w", false},
      {"", "", true},
      {"", "/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
    EXPECT_EQ(same_components(c.a, c.b), c.same);
    EXPECT_EQ(same_components(c.b, c.a), c.same);
  }
}

TEST(PathText, ReplaceLastFileNameDropsWhatFollowsIt) {
  EXPECT_EQ(replace_last_file_name("dir/main.rs:10/", "main.rs:10", "main.rs"), "dir/main.rs");
  EXPECT_EQ(replace_last_file_name("dir/main.rs:10/./", "main.rs:10", "main.rs"), "dir/main.rs");
  // The last occurrence: a directory of the same name stays.
  EXPECT_EQ(replace_last_file_name("a:1/a:1", "a:1", "a"), "a:1/a");
  EXPECT_EQ(replace_last_file_name("x", "x", ""), "");
}

TEST(PathText, RequireFileNameNamesTheArgument) {
  EXPECT_EQ(require_file_name("src/main.rs", "arg").value(), "main.rs");
  auto missing = require_file_name("nothing/..", "nothing/..:10");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().display(), "parsing as path with position nothing/..:10");
}

TEST(PathText, PushMissingComponentsInPathOrder) {
  EXPECT_EQ(push_missing_components("/w", {"file.rs", "dir", "new"}), "/w/new/dir/file.rs");
  EXPECT_EQ(push_missing_components("/", {"x.rs", "nonexistent"}), "/nonexistent/x.rs");
  EXPECT_EQ(push_missing_components("/w/", {"a"}), "/w/a");
  EXPECT_EQ(push_missing_components("/w", {}), "/w");
}

}  // namespace
}  // namespace kiv
