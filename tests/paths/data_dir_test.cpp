#include "paths/data_dir.hpp"

#include <gtest/gtest.h>

#include <map>

namespace kiv {
namespace {

using Env = std::map<std::string, std::string>;

TEST(InitDataDir, ChoosesTheBaseInOrder) {
  struct Case {
    const char* name;
    std::optional<std::string> custom;
    Env env;
    std::optional<std::string> passwd;
    std::string expected;  // empty: fails
  };
  const Case cases[] = {
      {"custom wins, no component", "/c/d", {{"FLATPAK_XDG_DATA_HOME", "/f"}}, "/pw", "/c/d"},
      {"flatpak unchanged", std::nullopt, {{"FLATPAK_XDG_DATA_HOME", "/f"}, {"XDG_DATA_HOME", "/x"}}, "/pw", "/f/kiv"},
      {"flatpak empty gives relative kiv", std::nullopt, {{"FLATPAK_XDG_DATA_HOME", ""}}, "/pw", "kiv"},
      {"flatpak relative", std::nullopt, {{"FLATPAK_XDG_DATA_HOME", "rel/dir"}}, "/pw", "rel/dir/kiv"},
      {"flatpak with trailing slash", std::nullopt, {{"FLATPAK_XDG_DATA_HOME", "/f/"}}, "/pw", "/f/kiv"},
      {"flatpak not utf-8 counts as unset", std::nullopt, {{"FLATPAK_XDG_DATA_HOME", "/\xFF"}, {"XDG_DATA_HOME", "/x"}},
       "/pw", "/x/kiv"},
      {"xdg absolute", std::nullopt, {{"XDG_DATA_HOME", "/x"}, {"HOME", "/home/u"}}, "/pw", "/x/kiv"},
      {"xdg bytes are fine", std::nullopt, {{"XDG_DATA_HOME", "/x\xFF"}}, "/pw", "/x\xFF/kiv"},
      {"xdg relative ignored", std::nullopt, {{"XDG_DATA_HOME", "rel"}, {"HOME", "/home/u"}}, "/pw",
       "/home/u/.local/share/kiv"},
      {"xdg empty ignored", std::nullopt, {{"XDG_DATA_HOME", ""}, {"HOME", "/home/u"}}, "/pw",
       "/home/u/.local/share/kiv"},
      {"home", std::nullopt, {{"HOME", "/home/u"}}, "/pw", "/home/u/.local/share/kiv"},
      {"home empty falls back to passwd", std::nullopt, {{"HOME", ""}}, "/pw", "/pw/.local/share/kiv"},
      {"home unset falls back to passwd", std::nullopt, {}, "/pw", "/pw/.local/share/kiv"},
      {"nothing at all", std::nullopt, {{"HOME", ""}}, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EnvLookup env = [&](const char* name) -> std::optional<std::string> {
      auto it = c.env.find(name);
      if (it == c.env.end()) return std::nullopt;
      return it->second;
    };
    auto result = init_data_dir(c.custom, env, [&] { return c.passwd; });
    if (c.expected.empty()) {
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error().display(), "failed to determine XDG_DATA_HOME directory");
    } else {
      ASSERT_TRUE(result) << result.error().display();
      EXPECT_EQ(*result, c.expected);
    }
  }
}

TEST(HomeFromPasswd, TheUidsEntryAndItsSixthField) {
  const std::string passwd =
      "root:x:0:0:root:/root:/bin/bash\n"
      "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
      "nohome:x:7:7:no home::/bin/sh\n"
      "short:x:8\n"
      "colons:x:9:9:a:b:/home/with:colon:/bin/sh\n"
      "late:x:1000:1000:Late,,,:/home/late:/bin/bash";  // no final newline
  struct Case {
    unsigned uid;
    std::optional<std::string> home;
  };
  const Case cases[] = {{0, "/root"}, {1, "/usr/sbin"}, {7, std::nullopt}, {8, std::nullopt},
                        {9, "b"}, {1000, "/home/late"}, {100, std::nullopt}, {10, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uid);
    EXPECT_EQ(home_from_passwd(passwd, c.uid), c.home);
  }
  EXPECT_EQ(home_from_passwd("", 0), std::nullopt);
}

TEST(PasswdHomeDir, MatchesTheRealUser) {
  // As root in CI this is /root; the point is that the lookup works at all.
  auto home = passwd_home_dir();
  ASSERT_TRUE(home);
  EXPECT_EQ(home->front(), '/');
}

}  // namespace
}  // namespace kiv

#include <unistd.h>

#include <filesystem>

#include "test_support.hpp"

namespace kiv {
namespace {

// Each case runs in a child process of its own: the locations are
// process-wide and fixed once.
class SetCustomDataDir : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
};

TEST_F(SetCustomDataDir, RelativeSeveralLevelsDeepIsCreatedAndCanonical) {
  EXPECT_EXIT(
      {
        if (::chdir(dir_.path().c_str()) != 0) _exit(10);
        auto result = set_custom_data_dir("./one/two/../two/three");
        if (!result) _exit(11);
        if (*result != dir_.path() + "/one/two/three") _exit(12);
        if (!std::filesystem::is_directory(*result)) _exit(13);
        auto again = set_custom_data_dir("elsewhere");
        if (!again || *again != *result || std::filesystem::exists("elsewhere")) _exit(14);
        auto data = data_dir();
        if (!data || *data != *result) _exit(15);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SetCustomDataDir, ExistingDirectoryIsTakenAsItIs) {
  std::filesystem::create_directories(dir_.sub("existing"));
  std::filesystem::create_directory_symlink(dir_.sub("existing"), dir_.sub("link"));
  EXPECT_EXIT(
      {
        auto result = set_custom_data_dir(dir_.sub("link"));
        _exit(result && *result == dir_.sub("existing") ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SetCustomDataDir, RegularFileFailsToCreate) {
  testing::write_file(dir_.sub("file"), "x");
  EXPECT_EXIT(
      {
        auto result = set_custom_data_dir(dir_.sub("file"));
        if (result) _exit(1);
        std::fprintf(stderr, "[%s]", result.error().display().c_str());
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "\\[failed to create custom data directory: File exists \\(os error 17\\)\\]");
}

TEST_F(SetCustomDataDir, AfterDataDirWasReadIsABrokenInvariant) {
  EXPECT_EXIT(
      {
        (void)data_dir();
        (void)set_custom_data_dir(dir_.sub("late"));
      },
      ::testing::ExitedWithCode(101), "set_custom_data_dir called after data_dir or config_dir was initialized");
  EXPECT_FALSE(std::filesystem::exists(dir_.sub("late")));
}

}  // namespace
}  // namespace kiv
