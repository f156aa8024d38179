// The pieces of the Flatpak escape: the host command line, the forwarded XDG
// settings, the installation directory, the failure forms and the sandbox's
// own editor.
#include "cli/flatpak.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "test_support.hpp"

namespace kiv {
namespace {

using Args = std::vector<std::string>;

const std::string kEditor = "/loc/files/libexec/kiv-editor";

TEST(FlatpakHostArgs, PrependsTheInstallationsEditorUnlessAnArgumentIsExactlyKiv) {
  struct Case {
    const char* name;
    Args args;
    Args expected;
  };
  const Case cases[] = {
      {"plain arguments", {"-n", "a.txt"}, {"--kiv", kEditor, "-n", "a.txt"}},
      {"--kiv given", {"--kiv", "/x", "a.txt"}, {"--kiv", "/x", "a.txt"}},
      {"--kiv= does not count", {"--kiv=/x", "a.txt"}, {"--kiv", kEditor, "--kiv=/x", "a.txt"}},
      {"no arguments", {}, {"--kiv", kEditor}},
      {"--kiv anywhere counts", {"a.txt", "--", "--kiv"}, {"a.txt", "--", "--kiv"}},
      {"near misses and raw bytes", {"b\xFF.txt", "--kiv ", "--KIV"}, {"--kiv", kEditor, "b\xFF.txt", "--kiv ", "--KIV"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(flatpak_host_args("/loc/files", c.args), c.expected);
  }
}

TEST(FlatpakSpawnArgv, TheWholeReplacementInItsOrder) {
  char state[] = "XDG_STATE_HOME=/s", home[] = "HOME=/h", data[] = "XDG_DATA_HOME=/d";
  char* env[] = {state, home, data, nullptr};
  const Args args = {"-n", "a.txt"};
  EXPECT_EQ(flatpak_spawn_argv("/loc/files", env, args),
            (Args{"/usr/bin/flatpak-spawn", "--host", "--env=FLATPAK_XDG_STATE_HOME=/s",
                  "--env=FLATPAK_XDG_DATA_HOME=/d", "--env=KIV_UPDATE_EXPLANATION=Please use flatpak to update kiv",
                  "--env=KIV_FLATPAK_LIB_PATH=/loc/files/lib", "/loc/files/bin/kiv", "--kiv", kEditor, "-n", "a.txt"}));
  // flatpak info printed nothing: everything is relative to "files".
  char* no_env[] = {nullptr};
  EXPECT_EQ(flatpak_spawn_argv("files", no_env, {}),
            (Args{"/usr/bin/flatpak-spawn", "--host", "--env=KIV_UPDATE_EXPLANATION=Please use flatpak to update kiv",
                  "--env=KIV_FLATPAK_LIB_PATH=files/lib", "files/bin/kiv", "--kiv", "files/libexec/kiv-editor"}));
}

TEST(FlatpakXdgEnvArgs, TheFourNamesInEnvironmentOrderAbsentOnesSkipped) {
  std::string entries[] = {
      "XDG_STATE_HOME=/state",
      "XDG_DATA_DIRS=/not-forwarded",
      "XDG_DATA_HOMEX=/not-forwarded",
      "xdg_cache_home=/not-forwarded",
      "XDG_CACHE_HOME=",  // empty is set
      "NO_EQUALS_SIGN",
      "\xFF\xFE=name not UTF-8",
      "XDG_CONFIG_HOME=/\xFF",  // not UTF-8: counts as unset
      "XDG_DATA_HOME=/data=with=equals",
  };
  std::vector<char*> env;
  for (auto& entry : entries) env.push_back(entry.data());
  env.push_back(nullptr);
  EXPECT_EQ(flatpak_xdg_env_args(env.data()),
            (Args{"--env=FLATPAK_XDG_STATE_HOME=/state", "--env=FLATPAK_XDG_CACHE_HOME=",
                  "--env=FLATPAK_XDG_DATA_HOME=/data=with=equals"}));

  // The step: one argument per call, then nothing, also when asked again.
  char* const* cursor = env.data();
  EXPECT_EQ(next_flatpak_xdg_env_arg(cursor), "--env=FLATPAK_XDG_STATE_HOME=/state");
  EXPECT_EQ(*cursor, env[1]);
  EXPECT_EQ(next_flatpak_xdg_env_arg(cursor), "--env=FLATPAK_XDG_CACHE_HOME=");
  EXPECT_EQ(next_flatpak_xdg_env_arg(cursor), "--env=FLATPAK_XDG_DATA_HOME=/data=with=equals");
  EXPECT_EQ(next_flatpak_xdg_env_arg(cursor), std::nullopt);
  EXPECT_EQ(next_flatpak_xdg_env_arg(cursor), std::nullopt);
}

TEST(InstallationDirFromLocation, TrimsUnicodeWhiteSpaceAndJoinsFiles) {
  struct Case {
    const char* name;
    std::string output;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"line end", "/var/lib/flatpak/app/x/current/active\n", "/var/lib/flatpak/app/x/current/active/files"},
      {"unicode white space at both ends", "\t \u3000/loc\u2003\u0085\r\n", "/loc/files"},
      {"inner white space stays", "/a b\n", "/a b/files"},
      {"trailing slash", "/loc/\n", "/loc/files"},
      {"empty output", "", "files"},
      {"only white space", " \n", "files"},
      {"zero width space is not white space", "\u200B/loc", "\u200B/loc/files"},
      {"not UTF-8", "/lo\xFF\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(installation_dir_from_location(c.output), c.expected);
  }
}

TEST(RestartFailureForms, ErrnoAndNulArgument) {
  EXPECT_EQ(errno_debug_form(2), R"(Errno(Errno { code: 2, description: Some("No such file or directory") }))");
  EXPECT_EQ(errno_debug_form(13), R"(Errno(Errno { code: 13, description: Some("Permission denied") }))");
  EXPECT_EQ(nul_argument_debug_form(2, std::string("ab\0\xFF", 4)), "BadArgument(NulError(2, [97, 98, 0, 255]))");
}

// The variables use_sandbox_editor reads and writes, restored afterwards.
class UseSandboxEditor : public ::testing::Test {
 protected:
  testing::ScopedEnv no_escape_{"KIV_FLATPAK_NO_ESCAPE", std::nullopt};
  testing::ScopedEnv flatpak_id_{"FLATPAK_ID", std::nullopt};
  testing::ScopedEnv explanation_{"KIV_UPDATE_EXPLANATION", std::nullopt};
};

TEST_F(UseSandboxEditor, OnlyInsideTheSandboxWithTheEscapeOffAndNoKiv) {
  using O = std::optional<std::string>;
  const std::string app(KIV_FLATPAK_APP_ID);
  struct Case {
    const char* name;
    O no_escape, flatpak_id, kiv;
    bool applies;
  };
  const Case cases[] = {
      {"escape off, empty value", "", app, {}, true},
      {"id with a suffix", "1", app + ".Devel", {}, true},
      {"--kiv given", "", app, "/x", false},
      {"escape on", {}, app, {}, false},
      {"escape setting not UTF-8 counts as unset", "\xFF", app, {}, false},
      {"outside any sandbox", "", {}, {}, false},
      {"another application", "", "org.example.Other", {}, false},
      {"a prefix of the id", "", app.substr(0, app.size() - 1), {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    explanation_.set(std::nullopt);
    no_escape_.set(c.no_escape);
    flatpak_id_.set(c.flatpak_id);
    O kiv = c.kiv;
    use_sandbox_editor(kiv);
    EXPECT_EQ(kiv, c.applies ? O{"/app/libexec/kiv-editor"} : c.kiv);
    const char* explanation = std::getenv("KIV_UPDATE_EXPLANATION");
    EXPECT_EQ(explanation ? O{explanation} : O{}, c.applies ? O{"Please use flatpak to update kiv"} : O{});
  }
}

TEST(ExtendedLibraryPath, AppendsTheFlatpakLibraryDirectoryAndNoEmptyElement) {
  using O = std::optional<std::string>;
  struct Case {
    O ld_library_path, lib_path;
    std::string expected;
  };
  const Case cases[] = {
      {O{}, O{}, ""},
      {O{""}, O{}, ""},
      {O{}, O{"/x"}, "/x"},
      {O{"/a:/b"}, O{"/x"}, "/a:/b:/x"},
      // An empty element is the working directory to the loader: kiv adds
      // none, neither before the lib path nor as an empty lib path.
      {O{""}, O{"/x"}, "/x"},
      {O{"/a"}, O{""}, "/a"},
      {O{""}, O{""}, ""},
      // The user's own elements are theirs, empty ones included.
      {O{"/a::"}, O{}, "/a::"},
      {O{"/a::"}, O{"/x"}, "/a:::/x"},
      {O{":/a"}, O{"/x"}, ":/a:/x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(extended_library_path(c.ld_library_path, c.lib_path), c.expected)
        << c.ld_library_path.value_or("(unset)") << " + " << c.lib_path.value_or("(unset)");
  }
}

}  // namespace
}  // namespace kiv
