#include "cli/bundle.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.hpp"
#include "util/path_text.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;

class BundleTest : public ::testing::Test {
 protected:
  // A layout root/bin/kiv; `files` are made relative to root.
  void make(std::initializer_list<const char*> files) {
    for (const char* f : files) {
      fs::create_directories(fs::path(dir_.sub(f)).parent_path());
      testing::write_file(dir_.sub(f), "x");
    }
  }
  std::string launcher() const { return dir_.sub("bin/kiv"); }
  testing::ScopedTempDir dir_;
};

TEST_F(BundleTest, FirstCandidateWins) {
  make({"bin/kiv", "libexec/kiv-editor", "lib/kiv/kiv-editor"});
  EXPECT_EQ(detect_bundle_from(std::nullopt, launcher()).value(), dir_.sub("libexec/kiv-editor"));
}

TEST_F(BundleTest, SecondCandidateAlone) {
  make({"bin/kiv", "lib/kiv/kiv-editor"});
  EXPECT_EQ(detect_bundle_from(std::nullopt, launcher()).value(), dir_.sub("lib/kiv/kiv-editor"));
}

TEST_F(BundleTest, DanglingFirstCandidateIsPassedOverQuietly) {
  make({"bin/kiv", "lib/kiv/kiv-editor"});
  fs::create_directories(dir_.sub("libexec"));
  fs::create_symlink(dir_.sub("nowhere"), dir_.sub("libexec/kiv-editor"));
  EXPECT_EQ(detect_bundle_from(std::nullopt, launcher()).value(), dir_.sub("lib/kiv/kiv-editor"));
}

TEST_F(BundleTest, ResultIsCanonicalAndMayBeADirectory) {
  make({"bin/kiv", "real/editor"});
  fs::create_directories(dir_.sub("libexec"));
  fs::create_symlink("../real", dir_.sub("libexec/kiv-editor"));
  EXPECT_EQ(detect_bundle_from(std::nullopt, launcher()).value(), dir_.sub("real"));
}

TEST_F(BundleTest, LauncherNamedKivDoesNotFindItself) {
  make({"bin/kiv"});
  auto result = detect_bundle_from(std::nullopt, launcher());
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(),
            "Bundle detection: could not find any of: ../libexec/kiv-editor, ../lib/kiv/kiv-editor, ./kiv");
}

TEST_F(BundleTest, EditorNamedKivBesideALauncherOfAnotherName) {
  make({"bin/kiv"});
  EXPECT_EQ(detect_bundle_from(std::nullopt, dir_.sub("bin/kiv-launcher")).value(), dir_.sub("bin/kiv"));
}

TEST_F(BundleTest, KivValueIsCanonicalisedAndNothingElseLookedAt) {
  make({"work/editor", "bin/kiv", "libexec/kiv-editor"});
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir_.sub("work").c_str()), 0);
  auto relative = detect_bundle_from(std::string("./editor"), launcher());
  auto missing = detect_bundle_from(std::string("./missing"), launcher());
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(relative.value(), dir_.sub("work/editor"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().display(), "Bundle detection: No such file or directory (os error 2)");
}

TEST(SameComponents, ComparesComponents) {
  EXPECT_TRUE(same_components("/a/b", "/a/b"));
  EXPECT_TRUE(same_components("/a//b/", "/a/b"));
  EXPECT_TRUE(same_components("/a/./b", "/a/b"));
  EXPECT_FALSE(same_components("/a/b", "/a/c"));
  EXPECT_FALSE(same_components("a/b", "/a/b"));
}

}  // namespace
}  // namespace kiv
