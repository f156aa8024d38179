// What the programs kiv starts inherit from it: the library path, the signal
// mask, and standard descriptors kiv must have in place before anything else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_support.hpp"

namespace kiv::e2e {
namespace {

namespace fs = std::filesystem;
using testing::run_process;

constexpr std::uint64_t bit(int signal_number) { return std::uint64_t{1} << (signal_number - 1); }
constexpr std::uint64_t kIntAndTerm = bit(SIGINT) | bit(SIGTERM);

class ChildEnvE2e : public E2eTest {
 protected:
  // The pid of the only stand-in that has recorded its start, once it has.
  pid_t started_editor() {
    pid_t pid = -1;
    EXPECT_TRUE(wait_until([&] {
      auto starts = record_events(record(), "start");
      if (starts.empty()) return false;
      pid = starts.front()["pid"].get<pid_t>();
      return true;
    }));
    return pid;
  }
};

// The editor inherits kiv's environment, LD_LIBRARY_PATH as kiv made it.
// An empty element there would have the loader search the directory kiv
// was run from.
TEST_F(ChildEnvE2e, EditorsLibraryPathHasNoElementKivAddedEmpty) {
  using O = std::optional<std::string>;
  struct Case {
    O ld_library_path, lib_path;
    std::string expected;
  };
  const Case cases[] = {
      // What a kiv started from another kiv's editor meets.
      {O{""}, O{"/opt/kiv/lib"}, "/opt/kiv/lib"},
      {O{"/a:/b"}, O{"/opt/kiv/lib"}, "/a:/b:/opt/kiv/lib"},
      {O{"/a::"}, O{"/opt/kiv/lib"}, "/a:::/opt/kiv/lib"},
      {O{"/a"}, O{""}, "/a"},
      {O{}, O{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ld_library_path.value_or("(unset)") + " + " + c.lib_path.value_or("(unset)"));
    fs::remove(record());
    env_.erase("LD_LIBRARY_PATH");
    env_.erase("KIV_FLATPAK_LIB_PATH");
    if (c.ld_library_path) env_["LD_LIBRARY_PATH"] = *c.ld_library_path;
    if (c.lib_path) env_["KIV_FLATPAK_LIB_PATH"] = *c.lib_path;
    auto result = run_process(kiv({"--foreground", "x.txt"}));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    auto starts = record_events(record(), "start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["ld_library_path"], c.expected);
  }
}

// kiv started by a program that blocks SIGINT and SIGTERM: the editor it
// starts, in either way, blocks nothing, so `kill PID` and Ctrl-C reach it.
// The editor never connects and stays, so its mask can be read from /proc.
TEST_F(ChildEnvE2e, EditorsStartWithNoSignalBlocked) {
  script("handshake never\nsleep 600000\n");
  for (bool foreground : {true, false}) {
    SCOPED_TRACE(foreground ? "foreground" : "detached");
    fs::remove(record());
    std::optional<Spawned> kiv_run;
    {
      ScopedBlockedSignals blocked({SIGINT, SIGTERM});
      kiv_run.emplace(kiv(foreground ? std::vector<std::string>{"--foreground", "x.txt"}
                                     : std::vector<std::string>{"x.txt"}));
    }
    pid_t editor = started_editor();
    ASSERT_GT(editor, 0);
    // kiv itself was started with the two blocked, as it is meant to be.
    EXPECT_EQ(blocked_signals(kiv_run->pid()).value_or(0) & kIntAndTerm, kIntAndTerm);
    EXPECT_EQ(blocked_signals(editor), std::uint64_t{0});
    EXPECT_EQ(record_events(record(), "start").front()["session_leader"], !foreground);
    ::kill(editor, SIGKILL);
    kiv_run.reset();
  }
}

// The uninstall script's sh, here a stand-in that prints its own SigBlk line
// and nothing else (the real one resets its mask, so it would show nothing).
TEST_F(ChildEnvE2e, UninstallScriptsShellStartsWithNoSignalBlocked) {
  const std::string bin = home_.sub("bin");
  fs::create_directories(bin);
  testing::write_file(bin + "/sh", "#!/usr/bin/env -S grep -h ^SigBlk: /proc/self/status\n");
  ::chmod((bin + "/sh").c_str(), 0755);
  auto options = kiv({"--uninstall"});
  options.env["PATH"] = bin + ":" + options.env["PATH"];
  testing::RunResult result;
  {
    ScopedBlockedSignals blocked({SIGINT, SIGTERM});
    result = run_process(options);
  }
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "SigBlk:\t0000000000000000\n");
  EXPECT_EQ(result.err, "");
}

// A closed standard descriptor is opened on /dev/null at start; when that
// cannot be done kiv stops at once with status 101 and says which one (a
// message that has nowhere to go when the closed one is standard error). The
// run's own mount namespace makes /dev/null read-only, so it cannot be
// opened for reading and writing.
TEST_F(ChildEnvE2e, DevNullThatCannotBeOpenedOverAClosedDescriptorIsOneLineAndStatus101) {
  if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace of the run's own needs root";
  const std::string stand_in = home_.sub("null");
  testing::write_file(stand_in, "");
  struct Case {
    std::string redirection;
    int exit_code;
    std::string err;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"0<&-", 101, "cannot open /dev/null on the closed descriptor 0: Read-only file system (os error 30)\n"},
      {"1>&-", 101, "cannot open /dev/null on the closed descriptor 1: Read-only file system (os error 30)\n"},
      {"2>&-", 101, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.redirection);
    testing::RunOptions options = kiv({});
    options.argv = {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                    "mount --bind \"$1\" /dev/null && mount -o remount,bind,ro /dev/null && exec \"$2\" --version " +
                        c.redirection,
                    "sh", stand_in, testing::kiv_binary()};
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out.starts_with("Kiv "), c.exit_code == 0) << result.out;
  }
}

}  // namespace
}  // namespace kiv::e2e
