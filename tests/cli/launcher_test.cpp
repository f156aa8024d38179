// The road of one invocation, run on the built kiv.
#include "cli/launcher.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "base/panic.hpp"
#include "test_support.hpp"
#include "util/root_refusal.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;
using testing::RunOptions;
using testing::run_process;
using testing::ScopedTempDir;

class LauncherTest : public ::testing::Test {
 protected:
  RunOptions kiv(std::vector<std::string> args) {
    return testing::kiv_run_options(home_.path(), args);
  }
  // A copy of kiv alone in a directory of its own: no editor beside it.
  std::string lonely_kiv() {
    fs::create_directories(home_.sub("lonely/bin"));
    fs::copy_file(testing::kiv_binary(), home_.sub("lonely/bin/kiv"));
    return home_.sub("lonely/bin/kiv");
  }
  ScopedTempDir home_;
};

TEST_F(LauncherTest, RootRefusalUnlessExactlyTrue) {
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal is for root: run as root to see it";
  const std::optional<std::string> refused[] = {std::nullopt, "", "1", "yes", "TRUE", "true ", " true", "\xFF"};
  for (const auto& value : refused) {
    SCOPED_TRACE(value.value_or("<unset>"));
    RunOptions options = kiv({"--help"});
    options.env.erase("KIV_ALLOW_ROOT");
    if (value) options.env["KIV_ALLOW_ROOT"] = *value;
    options.env["KIV_ASKPASS_SOCKET"] = home_.sub("askpass.sock");  // refused before askpass too
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, ROOT_REFUSAL_TEXT);
    EXPECT_EQ(result.err.size(), 312u);
    EXPECT_EQ(result.out, "");
  }
  RunOptions allowed = kiv({});
  auto result = run_process(allowed);
  EXPECT_NE(result.err, ROOT_REFUSAL_TEXT);
}

TEST_F(LauncherTest, NonRootGoesOnWhateverTheVariableSays) {
  // As root the run drops to nobody, who may not enter the checkout (it can
  // lie under /root): nobody runs a copy of kiv in a directory it can reach.
  const bool drop = ::geteuid() == 0;
  std::string reachable = home_.sub("public");
  fs::create_directories(reachable);
  fs::permissions(home_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(reachable, fs::status(home_.path()).permissions());
  fs::copy_file(testing::kiv_binary(), reachable + "/kiv");
  // The copy has no editor beside it: getting as far as bundle detection,
  // the step after the refusal, is going on.
  const std::optional<std::string> values[] = {std::nullopt, "", "false", "true"};
  for (const auto& value : values) {
    SCOPED_TRACE(value.value_or("<unset>"));
    RunOptions options = kiv({});
    options.argv[0] = reachable + "/kiv";
    options.as_nobody = drop;
    options.cwd = "/";
    options.env.erase("KIV_ALLOW_ROOT");
    if (value) options.env["KIV_ALLOW_ROOT"] = *value;
    options.env["HOME"] = "/nonexistent";
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err,
              "error: Bundle detection: could not find any of: ../libexec/kiv-editor, ../lib/kiv/kiv-editor, ./kiv\n");
    EXPECT_EQ(result.out, "");
  }
}

// Bundle detection comes before the side modes too: none of them does
// anything without an editor.
TEST_F(LauncherTest, NoEditorIsABundleDetectionReport) {
  const std::vector<std::string> invocations[] = {
      {}, {"--version"}, {"--completions", "bash"}, {"--system-specs"}, {"--uninstall"}};
  std::string kiv_path = lonely_kiv();
  for (const auto& args : invocations) {
    SCOPED_TRACE(::testing::PrintToString(args));
    RunOptions options = kiv(args);
    options.argv[0] = kiv_path;
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err,
              "error: Bundle detection: could not find any of: ../libexec/kiv-editor, ../lib/kiv/kiv-editor, ./kiv\n");
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(LauncherTest, ClosedStandardDescriptorsStillRun) {
  RunOptions options = kiv({});
  options.argv[0] = lonely_kiv();
  options.stdin_mode = testing::Stdio::Closed;
  options.stdout_mode = testing::Stdio::Closed;
  options.stderr_mode = testing::Stdio::Closed;
  auto result = run_process(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.term_signal, 0);
}

TEST(PrepareProcess, ReopensClosedDescriptorsSoLaterFilesStayClear) {
  ScopedTempDir dir;
  std::string file = dir.sub("later");
  EXPECT_EXIT(
      {
        ::close(0);
        ::close(2);
        prepare_process();
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
        // What goes to standard error must not land in the file.
        (void)!::write(2, "stray\n", 6);
        ::close(fd);
        _exit(fd > 2 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(testing::read_file(file), "");
}

TEST(AskpassPromptFromArgs, JoinsWithNulBytes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv"}), "");
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "a", "b c"}), std::string("a\0b c", 5));
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "a", "", "b"}), std::string("a\0\0b", 4));
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "--help"}), "--help");
}

// What a standard descriptor received while a call ran in this process.
class CapturedFd {
 public:
  explicit CapturedFd(int fd) : fd_(fd), saved_(::dup(fd)) {
    std::FILE* file = std::tmpfile();
    capture_ = ::dup(::fileno(file));
    std::fclose(file);
    std::fflush(nullptr);
    ::dup2(capture_, fd_);
  }
  ~CapturedFd() { restore(); }
  std::string text() {
    restore();
    std::string out;
    char buffer[4096];
    ssize_t n;
    ::lseek(capture_, 0, SEEK_SET);
    while ((n = ::read(capture_, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(nullptr);
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
  }
  int fd_, saved_, capture_;
};

// The road's early steps, in this process: each way out gives its status
// instead of ending the process, and the order decides which one wins.
TEST(RunLauncher, EachEarlyWayOutGivesItsStatusInOrder) {
  testing::ScopedTempDir dir;
  const std::string missing_socket = dir.sub("askpass.sock");
  struct Case {
    const char* what;
    std::optional<std::string> allow_root, askpass_socket;
    std::vector<std::string> args;
    ExitStatus status;
    std::string out_starts, err;
  };
  const Case cases[] = {
      {"help", "true", std::nullopt, {"kiv", "--help"}, 0, "The Kiv CLI binary.", ""},
      {"usage error", "true", std::nullopt, {"kiv", "--frobnicate"}, 2, "",
       "error: unexpected argument '--frobnicate' found\n\n  tip: to pass '--frobnicate' as a value, use "
       "'-- --frobnicate'\n\nUsage: kiv [OPTIONS] [PATHS_WITH_POSITION]...\n\nFor more information, try "
       "'--help'.\n"},
      {"askpass before the command line", "true", missing_socket, {"kiv", "--help"}, 1, "",
       "Error connecting to socket " + missing_socket + ": No such file or directory (os error 2)\n"},
      {"--askpass after it", "true", std::nullopt, {"kiv", "--askpass", missing_socket, "--help"}, 0,
       "The Kiv CLI binary.", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::ScopedEnv allow("KIV_ALLOW_ROOT", c.allow_root);
    testing::ScopedEnv askpass("KIV_ASKPASS_SOCKET", c.askpass_socket);
    testing::ScopedEnv flatpak("FLATPAK_ID", std::nullopt);
    CapturedFd out(STDOUT_FILENO), err(STDERR_FILENO);
    Outcome outcome = run_launcher(c.args);
    std::string out_text = out.text(), err_text = err.text();
    ASSERT_TRUE(outcome) << outcome.error().display();
    EXPECT_EQ(*outcome, c.status);
    EXPECT_TRUE(out_text.starts_with(c.out_starts)) << out_text;
    if (c.out_starts.empty()) {
      EXPECT_EQ(out_text, "");
    }
    EXPECT_EQ(err_text, c.err);
  }
  if (::geteuid() == 0) {
    testing::ScopedEnv allow("KIV_ALLOW_ROOT", std::nullopt);
    testing::ScopedEnv askpass("KIV_ASKPASS_SOCKET", missing_socket);
    CapturedFd out(STDOUT_FILENO), err(STDERR_FILENO);
    Outcome refused = run_launcher({"kiv", "--help"});
    EXPECT_EQ(err.text(), ROOT_REFUSAL_TEXT);
    EXPECT_EQ(out.text(), "");
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, 1);
  }
}

// The first error on the road is returned, not reported: the entry point
// reports it.
TEST(RunLauncher, ErrorsComeBackForTheEntryPoint) {
  testing::ScopedTempDir dir;
  testing::ScopedEnv allow("KIV_ALLOW_ROOT", "true");
  testing::ScopedEnv askpass("KIV_ASKPASS_SOCKET", std::nullopt);
  testing::ScopedEnv flatpak("FLATPAK_ID", std::nullopt);
  Outcome outcome = run_launcher({"kiv", "--kiv", dir.sub("missing"), "--version"});
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().display(), "Bundle detection: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace kiv
