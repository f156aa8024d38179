// The road of one invocation, run on the built kiv.
#include "cli/launcher.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/panic.hpp"
#include "cli/flatpak.hpp"
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
  ASSERT_EQ(::geteuid(), 0u) << "this test needs root";
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
  for (const char* value : {"", "false", "true"}) {
    SCOPED_TRACE(value);
    RunOptions options = kiv({});
    options.as_nobody = true;
    options.cwd = "/";
    options.env["KIV_ALLOW_ROOT"] = value;
    options.env["HOME"] = "/nonexistent";
    auto result = run_process(options);
    EXPECT_NE(result.err, ROOT_REFUSAL_TEXT);
    EXPECT_EQ(result.err.rfind("error: ", 0), 0u) << result.err;
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

TEST(Panic, StopsWithStatus101AndTheDiagnostic) {
  EXPECT_EXIT(panic("impossible state"), ::testing::ExitedWithCode(101), "^impossible state\n$");
}

TEST(AskpassPromptFromArgs, JoinsWithNulBytes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv"}), "");
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "a", "b c"}), std::string("a\0b c", 5));
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "a", "", "b"}), std::string("a\0\0b", 4));
  EXPECT_EQ(askpass_prompt_from_args(V{"kiv", "--help"}), "--help");
}

TEST(ExtendedLibraryPath, AppendsTheFlatpakLibraryDirectory) {
  using O = std::optional<std::string>;
  EXPECT_EQ(extended_library_path(O{}, O{}), "");
  EXPECT_EQ(extended_library_path(O{"/a:/b"}, O{"/x"}), "/a:/b:/x");
  EXPECT_EQ(extended_library_path(O{""}, O{"/x"}), ":/x");
  EXPECT_EQ(extended_library_path(O{"/a::"}, O{}), "/a::");
  EXPECT_EQ(extended_library_path(O{}, O{"/x"}), "/x");
}

}  // namespace
}  // namespace kiv
