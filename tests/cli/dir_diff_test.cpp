#include "cli/dir_diff.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "test_support.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;

class DirDiffTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(tmp()); }

  std::string tmp() const { return dir_.sub("tmp"); }
  std::string at(const std::string& relative) const { return dir_.sub(relative); }
  void file(const std::string& relative, const std::string& content = "x") {
    fs::create_directories(fs::path(at(relative)).parent_path());
    testing::write_file(at(relative), content);
  }
  size_t temp_dirs_left() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(tmp()), fs::directory_iterator()));
  }
  ExpandedDiffs expand(std::vector<DiffPair> pairs) {
    auto result = expand_dir_diffs(std::move(pairs));
    EXPECT_TRUE(result) << result.error().display();
    return result ? std::move(*result) : ExpandedDiffs{};
  }

  testing::ScopedTempDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", tmp()};
};

TEST(PathOrder, ComparesComponentByComponent) {
  std::vector<std::string> paths = {"a.txt", "a-b.txt", "a/b.txt", "B.txt", "a/b/c", "a/b", "a"};
  std::sort(paths.begin(), paths.end(), path_order_less);
  EXPECT_EQ(paths, (std::vector<std::string>{"B.txt", "a", "a/b", "a/b/c", "a/b.txt", "a-b.txt", "a.txt"}));
  EXPECT_FALSE(path_order_less("x", "x"));
  EXPECT_TRUE(path_order_less("x\xFF", "y"));  // bytes compare unsigned
  EXPECT_TRUE(path_order_less("x", "x\xFF"));
}

TEST_F(DirDiffTest, PairsThatAreNotTwoDirectoriesPassThroughUntouched) {
  file("f1");
  fs::create_directories(at("d"));
  std::vector<DiffPair> pairs = {
      {at("f1"), at("d")},          {at("d"), at("f1")},          {at("d") + ":10", at("d")},
      {at("missing"), at("d")},     {at("d"), at("missing")},     {"\xFF", "rel"},
  };
  auto out = expand(pairs);
  EXPECT_EQ(out.pairs, pairs);
  EXPECT_TRUE(out.placeholder_dirs.empty());
  EXPECT_EQ(temp_dirs_left(), 0u);
  EXPECT_TRUE(expand({}).pairs.empty());
  EXPECT_EQ(temp_dirs_left(), 0u);
}

TEST_F(DirDiffTest, ExpandsInPathOrderInPlaceOfTheDirectoryPair) {
  for (const char* name : {"a.txt", "a-b.txt", "a/b.txt", "B.txt"}) {
    file(std::string("old/") + name);
    file(std::string("new/") + name);
  }
  file("new/.git/HEAD");  // hidden files and VCS directories count too
  file("old/.git/HEAD");
  file("f1");
  file("f2");
  auto out = expand({{at("f1"), at("f2")}, {at("old"), at("new/")}, {at("f2"), at("f1")}});
  std::vector<DiffPair> expected = {{at("f1"), at("f2")}};
  for (const char* name : {".git/HEAD", "B.txt", "a/b.txt", "a-b.txt", "a.txt"})
    expected.push_back({at("old/") + name, at("new/") + name});
  expected.push_back({at("f2"), at("f1")});
  EXPECT_EQ(out.pairs, expected);
  EXPECT_TRUE(out.placeholder_dirs.empty());
  EXPECT_EQ(temp_dirs_left(), 0u);
}

TEST_F(DirDiffTest, OneSidedFilesGetEmptyPlaceholdersOnTheMissingSide) {
  file("old/both");
  file("new/both");
  file("old/gone.txt");
  file("new/x/y/z.txt");
  fs::create_directories(at("new/only-dirs/deeper"));
  auto out = expand({{at("old"), at("new")}});
  ASSERT_EQ(out.placeholder_dirs.size(), 1u);
  std::string placeholders = out.placeholder_dirs[0].path();
  EXPECT_EQ(fs::path(placeholders).parent_path(), tmp());
  std::vector<DiffPair> expected = {
      {at("old/both"), at("new/both")},
      {at("old/gone.txt"), placeholders + "/gone.txt"},
      {placeholders + "/x/y/z.txt", at("new/x/y/z.txt")},
  };
  EXPECT_EQ(out.pairs, expected);
  EXPECT_EQ(testing::read_file(placeholders + "/x/y/z.txt"), "");
  EXPECT_TRUE(fs::is_regular_file(placeholders + "/gone.txt"));
  EXPECT_FALSE(fs::exists(placeholders + "/only-dirs"));
}

TEST_F(DirDiffTest, EachDirectoryPairWithOneSidedFilesKeepsItsOwnDirectory) {
  file("a1/only");
  fs::create_directories(at("a2"));
  file("b1/same");
  file("b2/same");
  file("c1/x");
  file("c2/y");
  auto out = expand({{at("a1"), at("a2")}, {at("b1"), at("b2")}, {at("c1"), at("c2")}});
  ASSERT_EQ(out.placeholder_dirs.size(), 2u);
  EXPECT_EQ(out.pairs[0].new_path, out.placeholder_dirs[0].path() + "/only");
  EXPECT_EQ(out.pairs[2], (DiffPair{at("c1/x"), out.placeholder_dirs[1].path() + "/x"}));
  EXPECT_EQ(out.pairs[3], (DiffPair{out.placeholder_dirs[1].path() + "/y", at("c2/y")}));
  EXPECT_EQ(temp_dirs_left(), 2u);
}

TEST_F(DirDiffTest, TreesWithoutRegularFilesVanishAndLeaveNothing) {
  fs::create_directories(at("old/sub"));
  fs::create_directories(at("new"));
  file("target");
  fs::create_symlink(at("target"), at("new/link"));
  fs::create_directory_symlink(at("old"), at("new/dirlink"));
  ::mkfifo(at("old/fifo").c_str(), 0600);
  auto out = expand({{at("old"), at("new")}});
  EXPECT_TRUE(out.pairs.empty());
  EXPECT_EQ(temp_dirs_left(), 0u);
}

TEST_F(DirDiffTest, SameDirectoryBothSidesAndLinkedRoot) {
  file("d/f");
  fs::create_directory_symlink(at("d"), at("link"));
  auto out = expand({{at("d"), at("d")}, {at("link"), at("d")}});
  EXPECT_EQ(out.pairs, (std::vector<DiffPair>{{at("d/f"), at("d/f")}, {at("link/f"), at("d/f")}}));
  EXPECT_EQ(temp_dirs_left(), 0u);
}

TEST_F(DirDiffTest, LinkToAFileIsNotCollected) {
  file("old/f");
  fs::create_directories(at("new"));
  fs::create_symlink(at("old/f"), at("new/f"));
  auto out = expand({{at("old"), at("new")}});
  ASSERT_EQ(out.placeholder_dirs.size(), 1u);
  EXPECT_EQ(out.pairs, (std::vector<DiffPair>{{at("old/f"), out.placeholder_dirs[0].path() + "/f"}}));
}

TEST_F(DirDiffTest, FileAgainstDirectoryOfFilesFailsAndRemovesEverything) {
  file("a1/only");  // an earlier pair that made a directory
  fs::create_directories(at("a2"));
  file("old/x");
  file("new/x/inner");
  auto result = expand_dir_diffs({{at("a1"), at("a2")}, {at("old"), at("new")}});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(), "File exists (os error 17)");
  EXPECT_EQ(temp_dirs_left(), 0u);
}

// Under umask 000 another user (nobody) tries to plant a link where a
// placeholder's parent would go and to put a link to a file of the victim's
// in place of a placeholder: the placeholder directory lets nobody in.
TEST_F(DirDiffTest, PlaceholderDirectoryIsPrivateWhateverTheUmask) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  file("old/gone.txt");
  file("new/x/y/z.txt");
  file("victim/data", "precious");
  ::chmod(tmp().c_str(), 01777);  // as /tmp is
  const mode_t saved_umask = ::umask(0);
  auto result = expand_dir_diffs({{at("old"), at("new")}});
  ::umask(saved_umask);
  ASSERT_TRUE(result) << result.error().display();
  ASSERT_EQ(result->placeholder_dirs.size(), 1u);
  const std::string placeholders = result->placeholder_dirs[0].path();
  struct stat st;
  ASSERT_EQ(::lstat(placeholders.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  testing::RunOptions intruder;
  intruder.argv = {"/bin/sh", "-c",
                   "touch \"$3/nobody-was-here\" && echo reached\n"
                   "if ln -s \"$2\" \"$1/x2\" 2>/dev/null; then echo planted; else echo refused; fi\n"
                   "if ln -sf \"$2/data\" \"$1/gone.txt\" 2>/dev/null; then echo replaced; else echo refused; fi\n",
                   "sh", placeholders, at("victim"), tmp()};
  intruder.env = {{"PATH", "/usr/bin:/bin"}};
  intruder.as_nobody = true;
  testing::RunResult attempt = testing::run_process(intruder);
  EXPECT_EQ(attempt.out, "reached\nrefused\nrefused\n") << attempt.err;
  EXPECT_EQ(testing::read_file(at("victim/data")), "precious");
  EXPECT_FALSE(fs::is_symlink(placeholders + "/gone.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(placeholders + "/x2")));
}

// No link inside the placeholder directory is followed, whoever put it
// there: a link where a parent or the placeholder itself should be is an
// error and the file it points at stays as it was; a file where a parent
// should be is the error of making that directory.
TEST_F(DirDiffTest, PlaceholdersFollowNoLink) {
  file("victim/data", "precious");
  const std::string loop = "Too many levels of symbolic links (os error 40)";
  const std::string exists = "File exists (os error 17)";
  struct Row {
    std::string name;
    std::function<void(const std::string& dir)> plant;
    std::string relative, error;
  } rows[] = {
      {"link as parent", [&](auto& d) { fs::create_directory_symlink(at("victim"), d + "/sub"); }, "sub/data", exists},
      {"link as deeper parent",
       [&](auto& d) {
         fs::create_directories(d + "/a");
         fs::create_directory_symlink(at("victim"), d + "/a/b");
       },
       "a/b/data", exists},
      {"link to a file as parent", [&](auto& d) { fs::create_symlink(at("victim/data"), d + "/f"); }, "f/data", exists},
      {"file as parent", [&](auto& d) { testing::write_file(d + "/f", ""); }, "f/data", exists},
      {"link as placeholder", [&](auto& d) { fs::create_symlink(at("victim/data"), d + "/data"); }, "data", loop},
      {"dangling link as placeholder", [&](auto& d) { fs::create_symlink(at("victim/new"), d + "/new"); }, "new", loop},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string dir = at("placeholders-" + std::to_string(&row - rows));
    fs::create_directories(dir);
    row.plant(dir);
    auto result = create_placeholder_file(dir, row.relative);
    ASSERT_FALSE(result) << *result;
    EXPECT_EQ(result.error().display(), row.error);
    EXPECT_EQ(testing::read_file(at("victim/data")), "precious");
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("victim/new"))));
  }
}

TEST_F(DirDiffTest, NonUtf8NamesAreShownWithReplacementCharacters) {
  file("old/caf\xE9.txt");
  file("new/caf\xE9.txt");
  auto out = expand({{at("old"), at("new")}});
  ASSERT_EQ(out.pairs.size(), 1u);
  EXPECT_EQ(out.pairs[0].old_path, at("old/caf\xEF\xBF\xBD.txt"));
}

TEST_F(DirDiffTest, UnreadableSubdirectoryFailsTheWholeExpansion) {
  // Root reads everything, so the expansion runs as an unprivileged user.
  file("a1/only");
  fs::create_directories(at("a2"));
  file("old/ok");
  file("new/locked/secret");
  ::chmod(at("new/locked").c_str(), 0);
  ::chmod(tmp().c_str(), 0777);
  ::chmod(dir_.path().c_str(), 0755);
  EXPECT_EXIT(
      {
        // Not root already: the test's own user is unprivileged enough.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(10);
        auto result = expand_dir_diffs({{at("a1"), at("a2")}, {at("old"), at("new")}});
        if (result) _exit(11);
        std::fprintf(stderr, "[%s]", result.error().display().c_str());
        _exit(0);
      },
      ::testing::ExitedWithCode(0),
      "\\[IO error for operation on .*/new/locked: Permission denied \\(os error 13\\)\\]");
  EXPECT_EQ(temp_dirs_left(), 0u);
}

}  // namespace
}  // namespace kiv
