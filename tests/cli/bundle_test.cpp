#include "cli/bundle.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "util/path_text.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;

// One layout under a fresh root per case: `files` made (each holding "x"),
// `links` made as symbolic links (link, target), then detection run for the
// launcher `launcher` (relative to root) with the --kiv value `kiv`, from the
// directory `cwd` when one is given. `found` is where the editor is,
// relative to root; `error` the whole line when detection fails.
struct BundleCase {
  const char* name = "";
  std::vector<const char*> files{};
  std::vector<std::pair<const char*, const char*>> links{};
  const char* launcher = "bin/kiv";
  std::optional<std::string> kiv{};
  const char* cwd = nullptr;
  const char* found = nullptr;
  const char* error = nullptr;
};

TEST(BundleTest, Layouts) {
  const char* nothing_found =
      "Bundle detection: could not find any of: ../libexec/kiv-editor, ../lib/kiv/kiv-editor, ./kiv";
  const BundleCase cases[] = {
      {.name = "the first candidate wins",
       .files = {"bin/kiv", "libexec/kiv-editor", "lib/kiv/kiv-editor"},
       .found = "libexec/kiv-editor"},
      {.name = "the second candidate alone", .files = {"bin/kiv", "lib/kiv/kiv-editor"}, .found = "lib/kiv/kiv-editor"},
      {.name = "a dangling first candidate is passed over quietly",
       .files = {"bin/kiv", "lib/kiv/kiv-editor"},
       .links = {{"libexec/kiv-editor", "nowhere"}},
       .found = "lib/kiv/kiv-editor"},
      {.name = "the result is canonical and may be a directory",
       .files = {"bin/kiv", "real/editor"},
       .links = {{"libexec/kiv-editor", "../real"}},
       .found = "real"},
      {.name = "a launcher named kiv does not find itself", .files = {"bin/kiv"}, .error = nothing_found},
      {.name = "an editor named kiv beside a launcher of another name",
       .files = {"bin/kiv"},
       .launcher = "bin/kiv-launcher",
       .found = "bin/kiv"},
      {.name = "the --kiv value is canonicalised from the working directory",
       .files = {"work/editor", "bin/kiv", "libexec/kiv-editor"},
       .kiv = "./editor",
       .cwd = "work",
       .found = "work/editor"},
      {.name = "a missing --kiv value is an error: the bundle is not looked at",
       .files = {"work/editor", "bin/kiv", "libexec/kiv-editor"},
       .kiv = "./missing",
       .cwd = "work",
       .error = "Bundle detection: No such file or directory (os error 2)"},
  };
  for (const BundleCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedTempDir root;
    for (const char* f : c.files) {
      fs::create_directories(fs::path(root.sub(f)).parent_path());
      testing::write_file(root.sub(f), "x");
    }
    for (const auto& [link, target] : c.links) {
      fs::create_directories(fs::path(root.sub(link)).parent_path());
      fs::create_symlink(target, root.sub(link));
    }
    Result<std::string> result = [&] {
      if (!c.cwd) return detect_bundle_from(c.kiv, root.sub(c.launcher));
      const fs::path before = fs::current_path();
      fs::current_path(root.sub(c.cwd));
      auto detected = detect_bundle_from(c.kiv, root.sub(c.launcher));
      fs::current_path(before);
      return detected;
    }();
    if (c.found) {
      ASSERT_TRUE(result) << result.error().display();
      EXPECT_EQ(*result, root.sub(c.found));
    } else {
      ASSERT_FALSE(result) << *result;
      EXPECT_EQ(result.error().display(), c.error);
    }
  }
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
