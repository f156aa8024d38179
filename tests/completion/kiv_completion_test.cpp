// kiv's own completion scripts, as the built kiv writes them, loaded into
// each real shell and asked for the candidates of a table of command lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "shells.hpp"
#include "test_support.hpp"

namespace kiv::testing {
namespace {

using Words = std::vector<std::string>;

const Words kLongOptions = {"--add",     "--askpass",     "--classic",      "--completions", "--debug-state",
                            "--dev-container", "--dev-server-token", "--diff", "--existing", "--foreground",
                            "--help",    "--kiv",         "--new",          "--reuse",       "--system-specs",
                            "--uninstall", "--user-data-dir", "--version",  "--wait"};
const Words kShortOptions = {"-a", "-e", "-h", "-n", "-r", "-v", "-w"};
const Words kShells = {"bash", "elvish", "fish", "nushell", "powershell", "zsh"};
const Words kEntries = {"adir", "afile", "another.txt", "bdir", "bfile"};
const Words kDirs = {"adir", "bdir"};

Words all_options() {
  Words all = kLongOptions;
  all.insert(all.end(), kShortOptions.begin(), kShortOptions.end());
  std::sort(all.begin(), all.end());
  return all;
}

struct Case {
  std::string line;
  Words expected;
  bool after_equals = false;     // compare what follows "=" in each candidate
  bool nushell_too = true;       // nushell's extern cannot stop options after a path
};

// A home with the fixture the lines are completed in: three files and two
// directories.
class KivCompletion : public ::testing::TestWithParam<Shell> {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(work_ + "/adir");
    std::filesystem::create_directories(work_ + "/bdir");
    for (const char* f : {"afile", "another.txt", "bfile"}) write_file(work_ + "/" + f, "");
  }

  // The script the given kiv writes for this shell.
  std::string script_of(const std::string& kiv) {
    RunOptions options = kiv_run_options(home_.path(), {"--completions", completions_value(GetParam())});
    options.argv[0] = kiv;
    RunResult r = run_process(options);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  }

  Words complete(const std::string& script, const std::string& line) {
    return complete_line(GetParam(), script, line, work_, home_.path());
  }

  ScopedTempDir home_;
  std::string work_ = home_.sub("work");
};

TEST_P(KivCompletion, TableOfCommandLines) {
  const std::string script = script_of(kiv_binary());
  const std::vector<Case> cases = {
      {"kiv --", kLongOptions},
      {"kiv -", all_options()},
      {"kiv --comp", {"--completions"}},
      {"kiv -w --ne", {"--new"}},
      {"kiv --completions ", kShells},
      {"kiv --completions b", {"bash"}},
      {"kiv --completions=", kShells, true},
      {"kiv --completions=f", {"fish"}, true},
      {"kiv --user-data-dir ", kDirs},
      {"kiv --user-data-dir a", {"adir"}},
      {"kiv ", kEntries},
      {"kiv a", {"adir", "afile", "another.txt"}},
      {"kiv -w ", kEntries},
      {"kiv afile ", kEntries},
      {"kiv afile b", {"bdir", "bfile"}},
      {"kiv --diff a", {"adir", "afile", "another.txt"}},
      {"kiv --diff a ", kEntries},
      {"kiv --diff afile bfile ", kEntries},
      {"kiv --kiv ", kEntries},
      {"kiv --askpass ", kEntries},
      {"kiv --dev-server-token ", kEntries},
      // The first path starts trailing mode, "--" ends the options: a word
      // with a dash after either is a path, not an option.
      {"kiv afile --w", {}, false, false},
      {"kiv -- --w", {}, false, false},
  };
  for (const Case& c : cases) {
    if (GetParam() == Shell::Nushell && !c.nushell_too) continue;
    SCOPED_TRACE("line: \"" + c.line + "\"");
    Words got = complete(script, c.line);
    EXPECT_EQ(c.after_equals ? after_equals(got) : got, c.expected);
  }
}

TEST_P(KivCompletion, CompletesTheNameItIsInstalledUnder) {
  // A copy named kiv-dev, with the editor where bundle detection looks.
  std::filesystem::create_directories(home_.sub("bin"));
  std::filesystem::create_directories(home_.sub("libexec"));
  std::filesystem::copy_file(kiv_binary(), home_.sub("bin/kiv-dev"));
  std::filesystem::create_symlink(stand_in_editor_binary(), home_.sub("libexec/kiv-editor"));
  const std::string script = script_of(home_.sub("bin/kiv-dev"));
  EXPECT_EQ(complete(script, "kiv-dev --comp"), Words{"--completions"});
  EXPECT_EQ(complete(script, "kiv-dev --completions z"), Words{"zsh"});
}

INSTANTIATE_TEST_SUITE_P(RealShells, KivCompletion,
                         ::testing::Values(Shell::Bash, Shell::BashWithHelpers, Shell::Zsh, Shell::Fish,
                                           Shell::Elvish, Shell::Nushell),
                         [](const auto& p) { return shell_name(p.param); });

TEST(KivCompletionScripts, NoCompletionForTheOldNameInBash) {
  ScopedTempDir home;
  std::filesystem::create_directories(home.sub("bin"));
  std::filesystem::create_directories(home.sub("libexec"));
  std::filesystem::copy_file(kiv_binary(), home.sub("bin/kiv-dev"));
  std::filesystem::create_symlink(stand_in_editor_binary(), home.sub("libexec/kiv-editor"));
  RunOptions options = kiv_run_options(home.path(), {"--completions", "bash"});
  options.argv[0] = home.sub("bin/kiv-dev");
  RunResult r = run_process(options);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  write_file(home.sub("script.bash"), r.out);
  RunOptions bash;
  bash.argv = {"/bin/bash",
               "--norc",
               "--noprofile",
               "-c",
               "source \"$1\" && complete -p kiv-dev && ! complete -p kiv 2>/dev/null",
               "bash",
               home.sub("script.bash")};
  bash.env = kiv_env(home.path());
  bash.timeout = std::chrono::seconds(20);
  RunResult b = run_process(bash);
  EXPECT_EQ(b.exit_code, 0) << b.out << b.err;
  EXPECT_EQ(b.out, "complete -F _kiv_dev kiv-dev\n");
}

TEST(KivCompletionScripts, FileNameThatIsNotUtf8IsRefusedWithNothingWritten) {
  ScopedTempDir home;
  std::filesystem::create_directories(home.sub("bin"));
  std::filesystem::create_directories(home.sub("libexec"));
  const std::string copy = home.sub("bin/kiv\xff");
  std::filesystem::copy_file(kiv_binary(), copy);
  std::filesystem::create_symlink(stand_in_editor_binary(), home.sub("libexec/kiv-editor"));
  for (const char* shell : {"bash", "zsh", "powershell"}) {
    RunOptions options = kiv_run_options(home.path(), {"--completions", shell});
    options.argv[0] = copy;
    RunResult r = run_process(options);
    EXPECT_EQ(r.exit_code, 1) << shell;
    EXPECT_EQ(r.out, "") << shell;
    EXPECT_EQ(r.err, "error: --completions expects a UTF-8 name for cli bin\n") << shell;
  }
}

TEST(KivCompletionScripts, FishShowsEachOptionsHelp) {
  ScopedTempDir home;
  RunResult r = run_process(kiv_run_options(home.path(), {"--completions", "fish"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  write_file(home.sub("kiv.fish"), r.out);
  RunOptions fish;
  fish.argv = {"/usr/bin/fish", "--no-config", "-c", "source $argv[1]; and complete -C 'kiv --user-d'; and complete -C 'kiv --re'",
               home.sub("kiv.fish")};
  fish.env = kiv_env(home.path());
  fish.cwd = home.path();
  fish.timeout = std::chrono::seconds(20);
  RunResult f = run_process(fish);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out,
            "--user-data-dir\tSets a custom directory for all user data (e.g., database, extensions, logs). This "
            "overrides the default platform-specific data directory location: `$XDG_DATA_HOME/kiv`\n"
            "--reuse\tReuse an existing window, replacing its workspace\n");
}

}  // namespace
}  // namespace kiv::testing
