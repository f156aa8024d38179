// `cmake --install` puts kiv and the completion scripts where the shells
// look, and a fresh interactive bash with bash-completion completes kiv
// from the installed file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "../prompt/tmux_session.hpp"
#include "shells.hpp"
#include "test_support.hpp"

namespace kiv::testing {
namespace {

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    RunOptions install;
    install.argv = {KIV_CMAKE_COMMAND, "--install", KIV_BUILD_DIR, "--prefix", prefix_};
    install.env = kiv_env(home_.path());
    install.timeout = std::chrono::seconds(60);
    RunResult r = run_process(install);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  }

  ScopedTempDir home_;
  std::string prefix_ = home_.sub("prefix");
};

TEST_F(Installed, LaysOutKivAndTheSystemCompletionFiles) {
  struct stat st{};
  ASSERT_EQ(::stat((prefix_ + "/bin/kiv").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  const std::string built = std::string(KIV_BUILD_DIR) + "/completions/";
  EXPECT_EQ(read_file(prefix_ + "/share/bash-completion/completions/kiv"), read_file(built + "kiv.bash"));
  EXPECT_EQ(read_file(prefix_ + "/share/zsh/site-functions/_kiv"), read_file(built + "kiv.zsh"));
  EXPECT_EQ(read_file(prefix_ + "/share/fish/vendor_completions.d/kiv.fish"), read_file(built + "kiv.fish"));
  EXPECT_EQ(read_file(built + "kiv.bash").rfind("# bash completion for kiv", 0), 0u);
  EXPECT_EQ(read_file(built + "kiv.zsh").rfind("#compdef kiv\n", 0), 0u);
  // Nothing else: elvish, nushell and PowerShell have no system directory.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix_)) files += entry.is_regular_file();
  EXPECT_EQ(files, 4u);
}

TEST_F(Installed, FreshInteractiveBashCompletesFromTheInstalledFile) {
  // A home whose .bashrc loads bash-completion, as Debian's default one does;
  // bash-completion finds completions under each data directory.
  write_file(home_.sub(".bashrc"), "PS1='$ '\n. /usr/share/bash-completion/bash_completion\n");
  const std::string command = "env -i HOME=" + shell_quote(home_.path()) + " TERM=screen LANG=C.UTF-8" +
                              " XDG_DATA_DIRS=" + shell_quote(prefix_ + "/share:/usr/share") +
                              " PATH=" + shell_quote(prefix_ + "/bin:/usr/bin:/bin") + " bash -i";
  TmuxSession tmux(home_.path(), 10, 80, command);
  ASSERT_TRUE(TmuxSession::wait_until([&] { return !tmux.screen().empty() && tmux.screen()[0] == "$"; }));
  ASSERT_TRUE(tmux.press_last("kiv --ver"));
  ASSERT_TRUE(tmux.press_last("Tab"));
  EXPECT_TRUE(TmuxSession::wait_until([&] { return tmux.screen()[0] == "$ kiv --version"; }))
      << tmux.screen()[0];
}

TEST_F(Installed, FishAndZshFindTheirInstalledFiles) {
  const std::string work = home_.sub("work");
  std::filesystem::create_directories(work);
  // fish's own start-up adds vendor_completions.d under each data directory
  // (the home has no configuration of its own).
  RunOptions fish;
  fish.argv = {"/usr/bin/fish", "-c", "complete -C 'kiv --ver'"};
  fish.env = kiv_env(home_.path());
  fish.env["XDG_DATA_DIRS"] = prefix_ + "/share:/usr/share";
  // fish loads completions only for commands it finds.
  fish.env["PATH"] = prefix_ + "/bin:/usr/bin:/bin";
  fish.cwd = work;
  fish.timeout = std::chrono::seconds(20);
  RunResult f = run_process(fish);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, "--version\tPrint Kiv's version and the app path\n");
  // zsh autoloads _kiv from site-functions, which Debian's zsh has in $fpath.
  RunOptions zsh;
  zsh.argv = {"/usr/bin/zsh", "-f", std::string(KIV_COMPLETION_DRIVERS) + "/complete_zsh.zsh",
              prefix_ + "/share/zsh/site-functions", "kiv --ver", home_.sub("zsh-out")};
  zsh.env = kiv_env(home_.path());
  zsh.cwd = work;
  zsh.timeout = std::chrono::seconds(30);
  RunResult z = run_process(zsh);
  EXPECT_EQ(z.exit_code, 0) << z.err;
  EXPECT_EQ(read_file(home_.sub("zsh-out")), "--version\n<<done>>\n");
}

}  // namespace
}  // namespace kiv::testing
