// kiv inside the editor's Flatpak sandbox: FLATPAK_ID set and the stand-in
// flatpak-spawn laid over /usr/bin in a private mount namespace of kiv's
// process, so the built kiv runs unchanged.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <filesystem>

#include "cli/flatpak.hpp"
#include "e2e_support.hpp"

namespace kiv::e2e {
namespace {

namespace fs = std::filesystem;
using testing::run_process;
using testing::RunOptions;
using Args = std::vector<std::string>;

const std::string kApp(KIV_FLATPAK_APP_ID);
const std::string kExplanation = "--env=KIV_UPDATE_EXPLANATION=Please use flatpak to update kiv";

// One call of the stand-in flatpak-spawn, as it recorded it.
struct SpawnCall {
  Args argv;
  Args env;
  std::string stdin_target;
  std::string sigpipe;  // "ignored" or "default"
  std::string sigblk;   // its mask of blocked signals, 16 hex digits
};

Args split_nul_terminated(const std::string& bytes) {
  Args entries;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\0', start);
    entries.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

class FlatpakE2e : public E2eTest {
 protected:
  void SetUp() override {
    // The stand-in is laid over /usr/bin in a mount namespace of the run's
    // own, which needs CAP_SYS_ADMIN.
    if (::geteuid() != 0) GTEST_SKIP() << "laying the stand-in flatpak-spawn over /usr/bin needs root";
  }

  FlatpakE2e() {
    fs::create_directories(calls_dir_);
    fs::create_directories(location_);
    location_ = fs::canonical(location_).string();
    installation_ = location_ + "/files";
    env_["KIV_STAND_IN_SPAWN_RECORD"] = calls_dir_;
    env_["FLATPAK_ID"] = kApp;
    // Neither forwarded nor needed: one absent XDG variable is skipped.
    env_.erase("XDG_CONFIG_HOME");
    print_location(" " + location_ + "\n");
    testing::write_file(work() + "/a.txt", "a\n");
  }

  // What the stand-in's `flatpak info --show-location` prints.
  void print_location(const std::string& bytes) {
    testing::write_file(home_.sub("location"), bytes);
    env_["KIV_STAND_IN_SPAWN_LOCATION"] = home_.sub("location");
  }

  // kiv with `args` inside the sandbox: the stand-in in place.
  RunOptions sandboxed(const Args& args) const {
    RunOptions options = kiv(args);
    options.usr_bin_overlay = testing::stand_in_flatpak_spawn_dir();
    return options;
  }

  std::vector<SpawnCall> calls() const {
    std::vector<SpawnCall> found;
    for (int n = 1; fs::exists(calls_dir_ + "/" + std::to_string(n) + ".argv"); ++n) {
      std::string base = calls_dir_ + "/" + std::to_string(n);
      found.push_back({split_nul_terminated(testing::read_file(base + ".argv")),
                       split_nul_terminated(testing::read_file(base + ".env")), testing::read_file(base + ".stdin"),
                       testing::read_file(base + ".sigpipe"), testing::read_file(base + ".sigblk")});
    }
    return found;
  }

  // The environment kiv was given, entry by entry in its order.
  static Args entries(const std::map<std::string, std::string>& env) {
    Args out;
    for (const auto& [name, value] : env) out.push_back(name + "=" + value);
    return out;
  }

  // The XDG settings of env_ in their order there (the map's, by name).
  Args xdg_settings() const {
    return {"--env=FLATPAK_XDG_CACHE_HOME=" + env_.at("XDG_CACHE_HOME"),
            "--env=FLATPAK_XDG_DATA_HOME=" + env_.at("XDG_DATA_HOME"),
            "--env=FLATPAK_XDG_STATE_HOME=" + env_.at("XDG_STATE_HOME")};
  }

  Args info_call() const { return {"/usr/bin/flatpak-spawn", "--host", "flatpak", "info", "--show-location", kApp}; }

  std::string calls_dir_ = home_.sub("spawn-calls");
  std::string location_ = home_.sub("flatpak/app/dev.kiv.Kiv/x86_64/stable/active");
  std::string installation_;
};

TEST_F(FlatpakE2e, EscapesOnlyFromTheEditorsOwnSandbox) {
  enum Outcome { Escapes, RunsHere, SandboxEditor };
  using O = std::optional<std::string>;
  struct Case {
    const char* name;
    O flatpak_id, no_escape;
    Args args;
    Outcome outcome;
  };
  const std::string editor = testing::stand_in_editor_binary();
  const Case cases[] = {
      {"the application's id", kApp, {}, {"a.txt"}, Escapes},
      {"an id with a suffix", kApp + ".Devel", {}, {"a.txt"}, Escapes},
      {"escape setting not UTF-8 counts as unset", kApp, "\xFF", {"a.txt"}, Escapes},
      {"no FLATPAK_ID", {}, {}, {"a.txt"}, RunsHere},
      {"another application", "org.example.Other", {}, {"a.txt"}, RunsHere},
      {"a prefix of the id", kApp.substr(0, kApp.size() - 1), {}, {"a.txt"}, RunsHere},
      {"FLATPAK_ID not UTF-8", kApp + "\xFF", {}, {"a.txt"}, RunsHere},
      {"escape off and --kiv", kApp, "", {"--kiv", editor, "a.txt"}, RunsHere},
      {"escape off: the sandbox's own editor", kApp, "", {"a.txt"}, SandboxEditor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(calls_dir_);
    fs::create_directories(calls_dir_);
    RunOptions options = sandboxed(c.args);
    options.env.erase("FLATPAK_ID");
    if (c.flatpak_id) options.env["FLATPAK_ID"] = *c.flatpak_id;
    if (c.no_escape) options.env["KIV_FLATPAK_NO_ESCAPE"] = *c.no_escape;
    auto result = run_process(options);
    switch (c.outcome) {
      case Escapes:
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(calls().size(), 2u);
        break;
      case RunsHere:
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.out.find("path: " + work() + "/a.txt\n"), std::string::npos) << result.out;
        EXPECT_EQ(calls().size(), 0u);
        break;
      case SandboxEditor:
        // /app/libexec/kiv-editor is what bundle detection was given.
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err, "error: Bundle detection: No such file or directory (os error 2)\n");
        EXPECT_EQ(calls().size(), 0u);
        break;
    }
  }
}

TEST_F(FlatpakE2e, ReplacementGetsExactlyItsArgumentsAndKivsEnvironment) {
  const std::string editor = installation_ + "/libexec/kiv-editor";
  struct Case {
    const char* name;
    Args args;
    Args host_args;
  };
  const Case cases[] = {
      {"-n a.txt", {"-n", "a.txt"}, {"--kiv", editor, "-n", "a.txt"}},
      {"--kiv /x a.txt", {"--kiv", "/x", "a.txt"}, {"--kiv", "/x", "a.txt"}},
      {"--kiv=/x a.txt", {"--kiv=/x", "a.txt"}, {"--kiv", editor, "--kiv=/x", "a.txt"}},
      {"raw bytes", {"b\xFF.txt", ""}, {"--kiv", editor, "b\xFF.txt", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(calls_dir_);
    fs::create_directories(calls_dir_);
    RunOptions options = sandboxed(c.args);
    // The question to flatpak info gets none of kiv's own input.
    options.stdin_mode = testing::Stdio::Pipe;
    options.stdin_data = "not for flatpak info\n";
    auto result = run_process(options);
    // The stand-in ends with 0 and says nothing, and what flatpak info
    // wrote to standard error was dropped.
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
    auto recorded = calls();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].argv, info_call());
    EXPECT_EQ(recorded[0].env, entries(options.env));
    EXPECT_EQ(recorded[0].stdin_target, "/dev/null");

    Args expected = {"/usr/bin/flatpak-spawn", "--host"};
    for (auto& setting : xdg_settings()) expected.push_back(setting);
    expected.push_back(kExplanation);
    expected.push_back("--env=KIV_FLATPAK_LIB_PATH=" + installation_ + "/lib");
    expected.push_back(installation_ + "/bin/kiv");
    expected.insert(expected.end(), c.host_args.begin(), c.host_args.end());
    EXPECT_EQ(recorded[1].argv, expected);
    EXPECT_EQ(recorded[1].env, entries(options.env));
    // kiv ignores SIGPIPE for itself; neither program it starts inherits that.
    EXPECT_EQ(recorded[0].sigpipe, "default");
    EXPECT_EQ(recorded[1].sigpipe, "default");
  }
}

TEST_F(FlatpakE2e, NeitherFlatpakSpawnInheritsKivsBlockedSignals) {
  // kiv started with SIGINT and SIGTERM blocked: flatpak info's and the
  // replacement's flatpak-spawn both start with nothing blocked.
  testing::RunResult result;
  {
    ScopedBlockedSignals blocked({SIGINT, SIGTERM});
    result = run_process(sandboxed({"a.txt"}));
  }
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto recorded = calls();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].sigblk, "0000000000000000");
  EXPECT_EQ(recorded[1].sigblk, "0000000000000000");
}

TEST_F(FlatpakE2e, FailedFlatpakInfoWithoutOutputLeavesTheRelativeFilesDirectory) {
  env_.erase("KIV_STAND_IN_SPAWN_LOCATION");
  env_["KIV_STAND_IN_SPAWN_INFO_STATUS"] = "1";
  auto result = run_process(sandboxed({"a.txt"}));
  EXPECT_EQ(result.exit_code, 0);
  auto recorded = calls();
  ASSERT_EQ(recorded.size(), 2u);
  Args tail(recorded[1].argv.end() - 5, recorded[1].argv.end());
  EXPECT_EQ(tail, (Args{"--env=KIV_FLATPAK_LIB_PATH=files/lib", "files/bin/kiv", "--kiv", "files/libexec/kiv-editor",
                        "a.txt"}));
}

TEST_F(FlatpakE2e, FailuresEndWithStatus1AndTheirOwnLine) {
  ASSERT_FALSE(fs::exists("/usr/bin/flatpak-spawn")) << "this machine has a flatpak-spawn of its own";
  // A flatpak-spawn that cannot be run.
  fs::create_directories(home_.sub("not-executable"));
  testing::write_file(home_.sub("not-executable/flatpak-spawn"), "#!/bin/sh\n");
  ::chmod(home_.sub("not-executable/flatpak-spawn").c_str(), 0644);
  const std::string lib_argument_bytes =
      "45, 45, 101, 110, 118, 61, 75, 73, 86, 95, 70, 76, 65, 84, 80, 65, 75, 95, 76, 73, 66, 95, 80, 65, 84, 72, 61, "
      "47, 0, 47, 102, 105, 108, 101, 115, 47, 108, 105, 98";
  struct Case {
    const char* name;
    std::string overlay;  // empty: the machine's own /usr/bin
    std::string location;
    std::string report;
    size_t calls;
  };
  const std::string stand_in = testing::stand_in_flatpak_spawn_dir();
  const Case cases[] = {
      {"flatpak-spawn missing", "", "/loc\n",
       R"(Errno(Errno { code: 2, description: Some("No such file or directory") }))", 0},
      {"flatpak-spawn not executable", home_.sub("not-executable"), "/loc\n",
       R"(Errno(Errno { code: 13, description: Some("Permission denied") }))", 0},
      {"location not UTF-8", stand_in, "/lo\xFF\n", R"(the location flatpak info printed is not UTF-8: "/lo\xFF\n")", 1},
      {"location with a NUL byte", stand_in, std::string("/\0\n", 3),
       "BadArgument(NulError(28, [" + lib_argument_bytes + "]))", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(calls_dir_);
    fs::create_directories(calls_dir_);
    print_location(c.location);
    RunOptions options = kiv({"a.txt"});
    options.usr_bin_overlay = c.overlay;
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "failed restart cli on host: " + c.report + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(calls().size(), c.calls);
  }
}

// flatpak-spawn runs the installation's kiv on the host: in the host's own
// environment with the settings kiv passed, as the stand-in plays it.
TEST_F(FlatpakE2e, HostSideOpensTheFileThroughTheInstallationsEditor) {
  fs::create_directories(installation_ + "/bin");
  fs::create_directories(installation_ + "/libexec");
  fs::create_directories(installation_ + "/lib");
  fs::copy_file(testing::kiv_binary(), installation_ + "/bin/kiv");
  fs::copy_file(testing::stand_in_editor_binary(), installation_ + "/libexec/kiv-editor");
  auto host_env = testing::kiv_env(home_.sub("host"));
  host_env["KIV_STAND_IN_RECORD"] = record();
  host_env["LD_LIBRARY_PATH"] = "/host/lib";
  std::string host_entries;
  for (const auto& entry : entries(host_env)) host_entries += entry + '\0';
  testing::write_file(home_.sub("host-env"), host_entries);
  env_["KIV_STAND_IN_SPAWN_HOST_ENV"] = home_.sub("host-env");

  // No editor running: the host kiv starts the installation's editor, which
  // inherits the library directory and the update explanation.
  auto result = run_process(sandboxed({"a.txt"}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("path: " + work() + "/a.txt\n"), std::string::npos) << result.out;
  auto starts = record_events(record(), "start");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["argv"][0], installation_ + "/libexec/kiv-editor");
  EXPECT_EQ(starts[0]["ld_library_path"], "/host/lib:" + installation_ + "/lib");
  EXPECT_EQ(starts[0]["update_explanation"], "Please use flatpak to update kiv");
  EXPECT_EQ(only_open_request()["paths"], json({work() + "/a.txt"}));

  // An editor serving the sandbox's data directory (not the host's) gets
  // the hand-over: the host kiv took it from FLATPAK_XDG_DATA_HOME.
  ServingEditor serving(env_, record());
  ASSERT_TRUE(serving.ready());
  EXPECT_EQ(serving.socket(), env_.at("XDG_DATA_HOME") + "/kiv/kiv-stable.sock");
  result = run_process(sandboxed({"a.txt"}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto sessions = record_events(record(), "session");
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[1]["via"], "datagram");
  EXPECT_EQ(requests().size(), 2u);
}

}  // namespace
}  // namespace kiv::e2e
