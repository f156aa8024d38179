// The side modes on the built kiv: the version line, the system-specs
// refusal, which mode runs when several are asked for, and the uninstall
// mode against a HOME of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "cli/uninstall.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::RunOptions;
using testing::RunResult;
using testing::run_process;
using testing::ScopedTempDir;
using testing::Stdio;
using testing::write_file;

const std::string kStable = testing::kiv_binary();
const std::string kPreview = KIV_PREVIEW_BINARY;
const std::string kCanary = KIV_CANARY_BINARY;  // a channel the script does not know

// The commit of the checkout the tests were built from; 40 zeros when the
// sources are not a git checkout.
std::string checkout_commit() {
  const std::string source = KIV_SOURCE_DIR;
  if (!fs::exists(source + "/.git")) return std::string(40, '0');
  RunOptions git;
  git.argv = {"/usr/bin/git", "-C", source, "rev-parse", "HEAD"};
  git.env = {{"PATH", "/usr/bin:/bin"}};
  RunResult result = run_process(git);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  return result.out.substr(0, result.out.find('\n'));
}

std::string editor() { return fs::canonical(testing::stand_in_editor_binary()); }

std::string version_line(const std::string& channel_part, const std::string& editor_path) {
  return "Kiv " + channel_part + KIV_PROJECT_VERSION + " " + checkout_commit() + "  \xE2\x80\x93 " + editor_path + "\n";
}

const std::string kSystemSpecsReport =
    "error: The `--system-specs` argument is not supported in the Kiv CLI, only on Kiv binary.\n"
    "To retrieve the system specs on the command line, run the following command:\n" +
    editor() + " --system-specs\n";

using Lines = std::vector<std::string>;

Lines lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// A scratch world for one run: HOME (with kiv's TMPDIR and XDG directories
// inside), a directory of stand-in commands put first in PATH, and a log of
// every rm the script runs, all outside HOME so that a snapshot of HOME
// shows exactly what the run changed.
class Sandbox {
 public:
  Sandbox() {
    fs::create_directories(bin());
    testing::kiv_env(home());  // HOME's own TMPDIR and XDG directories, before any snapshot
    // Every removal the script makes, in order, then the real rm.
    tool("rm", "printf '%s\\n' \"$*\" >>" + root_.sub("rm.log") + "\nexec /bin/rm \"$@\"\n");
  }

  std::string home() const { return root_.sub("home"); }
  std::string bin() const { return root_.sub("bin"); }
  std::string sub(const std::string& relative) const { return root_.sub(relative); }
  std::vector<std::string> removals() const { return lines(read_file(root_.sub("rm.log"))); }

  void tool(const std::string& name, const std::string& body) const {
    write_file(bin() + "/" + name, "#!/bin/sh\n" + body);
    ::chmod((bin() + "/" + name).c_str(), 0755);
  }

  /// `binary` (a kiv) with `args`; the channel builds are pointed at the
  /// stand-in editor with --kiv, the stable kiv finds it beside itself.
  RunOptions kiv(const std::string& binary, std::vector<std::string> args) const {
    if (binary != kStable) args.insert(args.end(), {"--kiv", testing::stand_in_editor_binary()});
    RunOptions options = testing::kiv_run_options(home(), args);
    options.argv[0] = binary;
    options.env["PATH"] = bin() + ":/usr/bin:/bin";
    return options;
  }

  /// The script run on its own by sh, as kiv would run it but with
  /// KIV_CHANNEL as given (unset when empty optional).
  RunOptions script(const std::optional<std::string>& channel) const {
    write_file(root_.sub("uninstall.sh"), std::string(UNINSTALL_SCRIPT));
    RunOptions options = kiv(kStable, {});
    options.argv = {"/bin/sh", root_.sub("uninstall.sh")};
    if (channel) options.env["KIV_CHANNEL"] = *channel;
    return options;
  }

  /// Creates files (content "x") and, for entries ending in '/', directories
  /// under HOME.
  void make(const std::vector<std::string>& entries) const {
    for (const auto& entry : entries) {
      std::string path = home() + "/" + entry;
      if (entry.back() == '/') {
        fs::create_directories(path);
      } else {
        fs::create_directories(fs::path(path).parent_path());
        write_file(path, "x");
      }
    }
  }

  /// Every entry under HOME, relative, directories with a trailing '/'.
  std::set<std::string> snapshot() const {
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(home())) {
      std::string relative = fs::relative(e.path(), home());
      entries.insert(e.is_directory() && !e.is_symlink() ? relative + "/" : relative);
    }
    return entries;
  }

 private:
  ScopedTempDir root_;
};

/// `entries` without each of `removed` and everything below it.
std::set<std::string> without(std::set<std::string> entries, const std::vector<std::string>& removed) {
  std::erase_if(entries, [&](const std::string& e) {
    for (const auto& r : removed)
      if (e == r || e.starts_with(r + "/")) return true;
    return false;
  });
  return entries;
}

const std::string kQuestion = "Do you want to keep your Kiv preferences? [Y/n] ";

/// Sets the process's umask for the object's lifetime; children started
/// meanwhile inherit it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t saved_;
};

/// Runs `options` (standard error to /dev/null) with a standard input that
/// stays open, reads its standard output until `text` shows, then sends
/// `signal` to the process alone or to its whole process group and waits
/// for it. `out` holds what it wrote.
RunResult signal_when_shown(const RunOptions& options, const std::string& text, int signal, bool to_group) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  testing::ExecArgs exec(options);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (::dup2(in[0], 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(null, 2) < 0) _exit(126);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(126);
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    _exit(127);
  }
  ::setpgid(pid, pid);
  ::close(in[0]);
  ::close(out[1]);
  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  while (result.out.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    struct pollfd readable = {out[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) == 0) {
      result.timed_out = true;
      break;
    }
    char buffer[4096];
    ssize_t got = ::read(out[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.out.append(buffer, static_cast<size_t>(got));
  }
  if (!result.timed_out) ::kill(to_group ? -pid : pid, signal);
  testing::reap_process_group(pid, deadline, result);
  ::close(in[1]);
  ::close(out[0]);
  return result;
}

// ---------------------------------------------------------------------------
// Version line and system specs

TEST(VersionLine, ByteForByteForEachChannelWithTheCommitBuilt) {
  struct Row {
    std::string binary, channel_part;
  } rows[] = {{kStable, ""}, {kPreview, "preview "}, {kCanary, "canary "}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.binary);
    Sandbox sandbox;
    RunResult result = run_process(sandbox.kiv(row.binary, {"--version"}));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, version_line(row.channel_part, editor()));
    EXPECT_EQ(result.err, "");
  }
  // -v is the same option.
  Sandbox sandbox;
  EXPECT_EQ(run_process(sandbox.kiv(kStable, {"-v"})).out, version_line("", editor()));
}

TEST(VersionLine, EditorPathThatIsNotUtf8IsShownWithReplacementCharacters) {
  Sandbox sandbox;
  std::string dir = sandbox.sub("ed\xFFit");
  fs::create_directories(dir);
  write_file(dir + "/kiv-editor", "");
  RunResult result = run_process(sandbox.kiv(kStable, {"--version", "--kiv", dir + "/kiv-editor"}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, version_line("", sandbox.sub("ed\xEF\xBF\xBDit/kiv-editor")));
}

// A closed standard output is /dev/null by the time kiv writes (closed
// standard descriptors are opened on it at start); a reader that went away
// or a full device is reported on one line with status 1, never a crash.
TEST(VersionLine, StandardOutputThatCannotTakeTheLine) {
  struct Row {
    Stdio out;
    int status;
    std::string err;
  } rows[] = {
      {Stdio::Closed, 0, ""},
      {Stdio::BrokenPipe, 1, "error: Failed to write the version line: Broken pipe (os error 32)\n"},
      {Stdio::Full, 1, "error: Failed to write the version line: No space left on device (os error 28)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.out));
    Sandbox sandbox;
    RunOptions options = sandbox.kiv(kStable, {"--version"});
    options.stdout_mode = row.out;
    RunResult result = run_process(options);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_code, row.status);
    EXPECT_EQ(result.err, row.err);
  }
}

TEST(SystemSpecs, PointsAtTheEditorsOwnOptionWithStatus1) {
  Sandbox sandbox;
  RunResult result = run_process(sandbox.kiv(kStable, {"--system-specs"}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, kSystemSpecsReport);
  EXPECT_EQ(result.out, "");
}

// The modes are tried in a fixed order whatever the order of the options;
// the first one asked for is the only one that runs.
TEST(SideModeOrder, OnlyTheFirstModeAskedForRuns) {
  const std::string bash_script = [] {
    Sandbox sandbox;
    RunResult alone = run_process(sandbox.kiv(kStable, {"--completions", "bash"}));
    EXPECT_EQ(alone.exit_code, 0) << alone.err;
    EXPECT_NE(alone.out.find("complete -F"), std::string::npos);
    return alone.out;
  }();
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } rows[] = {
      {{"--version", "--system-specs"}, 0, version_line("", editor()), ""},
      {{"--system-specs", "--version"}, 0, version_line("", editor()), ""},
      {{"--version", "--uninstall"}, 0, version_line("", editor()), ""},
      {{"--uninstall", "--system-specs"}, 1, "", kSystemSpecsReport},
      {{"--completions", "bash", "--uninstall"}, 0, bash_script, ""},
      {{"--uninstall", "--completions", "bash", "--version"}, 0, bash_script, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    Sandbox sandbox;
    std::string ran = sandbox.sub("uninstall-ran");
    sandbox.tool("sh", "touch " + ran + "\n");
    RunResult result = run_process(sandbox.kiv(kStable, row.args));
    EXPECT_FALSE(fs::exists(ran)) << "the uninstall script ran";
    EXPECT_EQ(result.exit_code, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
  }
}

// ---------------------------------------------------------------------------
// Uninstall: what kiv does around the script

const std::vector<std::string> kAppIds = {"dev.kiv.Kiv", "dev.kiv.Kiv.Nightly", "dev.kiv.Kiv.Preview",
                                          "dev.kiv.Kiv.Dev"};

// An installation of one channel (application directory `app_dir`) beside
// things of other channels and other programs.
std::vector<std::string> linux_install(const std::string& app_dir) {
  std::vector<std::string> entries = {
      ".local/" + app_dir + "/bin/kiv-editor",
      ".local/bin/kiv",
      ".local/bin/other-tool",
      ".local/share/applications/other.desktop",
      ".local/share/kiv/db/0-stable/data",
      ".local/share/kiv/db/0-preview/data",
      ".local/share/kiv/kiv-stable.sock",
      ".local/share/kiv/kiv-preview.sock",
      ".local/share/other/keep",
      ".config/kiv/settings.json",
      ".config/other/keep",
      ".kiv_server/state",
      ".kiv_server_other/keep",
  };
  for (const auto& id : kAppIds) entries.push_back(".local/share/applications/" + id + ".desktop");
  return entries;
}

// A stand-in sh shows what kiv hands it: the script file, its mode and
// content, the channel, and the inherited standard streams.
TEST(Uninstall, RunsTheScriptFileWithShAndTheChannel) {
  Sandbox sandbox;
  sandbox.tool("sh", "printf '%s\\n' \"$1\" \"${KIV_CHANNEL-unset}\" >" + sandbox.sub("sh.log") +
                         "\nstat -c %a \"$1\" >>" + sandbox.sub("sh.log") + "\ncat \"$1\" >" +
                         sandbox.sub("script.copy") +
                         "\nIFS= read -r line\nprintf 'read %s\\n' \"$line\"\nexit 42\n");
  RunOptions options = sandbox.kiv(kStable, {"--uninstall"});
  options.env["KIV_CHANNEL"] = "nightly";  // kiv's own channel wins
  options.stdin_mode = Stdio::Pipe;
  options.stdin_data = "hello\n";
  RunResult result = run_process(options);
  EXPECT_EQ(result.exit_code, 42);
  EXPECT_EQ(result.out, "read hello\n");
  EXPECT_EQ(result.err, "");

  auto log = lines(read_file(sandbox.sub("sh.log")));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex(sandbox.home() + "/tmp/\\.tmp[A-Za-z0-9]{6}/uninstall\\.sh")))
      << log[0];
  EXPECT_EQ(log[1], "stable");
  EXPECT_EQ(log[2], "755");
  EXPECT_EQ(read_file(sandbox.sub("script.copy")), UNINSTALL_SCRIPT);
  EXPECT_TRUE(fs::is_empty(sandbox.home() + "/tmp")) << "the temporary directory is left behind";
}

TEST(Uninstall, EndsWithTheScriptsStatusOr1AfterASignal) {
  struct Row {
    std::string body;
    int status;
  } rows[] = {
      {"exit 0\n", 0},
      {"exit 3\n", 3},
      {"kill -KILL $$\n", 1},
      // Ctrl-C at the terminal reaches the whole process group: the script
      // ends, kiv stays to clean up and report.
      {"kill -INT 0\nkill -KILL $$\n", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.body);
    Sandbox sandbox;
    sandbox.tool("sh", row.body);
    RunResult result = run_process(sandbox.kiv(kStable, {"--uninstall"}));
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_code, row.status);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_empty(sandbox.home() + "/tmp")) << "the temporary directory is left behind";
  }
}

TEST(Uninstall, FailuresBeforeTheScriptRunsAreReportedAndLeaveNothing) {
  Sandbox no_sh;
  RunOptions options = no_sh.kiv(kStable, {"--uninstall"});
  options.env["PATH"] = no_sh.bin();  // holds only the rm stand-in
  RunResult result = run_process(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: Failed to execute uninstall script: No such file or directory (os error 2)\n");
  EXPECT_TRUE(fs::is_empty(no_sh.home() + "/tmp")) << "the temporary directory is left behind";

  Sandbox no_tmp;
  options = no_tmp.kiv(kStable, {"--uninstall"});
  options.env["TMPDIR"] = no_tmp.sub("missing");
  result = run_process(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(std::regex_match(result.err, std::regex("error: No such file or directory \\(os error 2\\) at path \"" +
                                                      no_tmp.sub("missing") + "/\\.tmp[A-Za-z0-9]{6}\"\n")))
      << result.err;
  EXPECT_TRUE(no_tmp.removals().empty());
}

// The script is run from a directory of kiv's own that no other user can
// enter, whatever the umask. Under umask 000 another user (nobody, through
// setpriv) tries, while the script runs, to put a script of its own in
// place of uninstall.sh and a link beside it.
TEST(Uninstall, ScriptDirectoryIsPrivateWhateverTheUmask) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  Sandbox sandbox;
  sandbox.make(linux_install("kiv.app"));
  const std::string tmp = sandbox.home() + "/tmp";
  const std::string drop = sandbox.sub("drop");  // the intruder's own place
  fs::create_directories(drop);
  ::chmod(tmp.c_str(), 01777);  // as /tmp is
  ::chmod(drop.c_str(), 01777);
  const std::string intruder = sandbox.sub("intrude.sh");
  write_file(intruder,
             "printf 'echo intruder ran\\n' >" + drop + "/evil.sh && echo wrote\n"
             "if mv -f " + drop + "/evil.sh \"$1/uninstall.sh\" 2>/dev/null; then echo replaced; else echo refused; fi\n"
             "if ln -s /etc \"$1/planted\" 2>/dev/null; then echo planted; else echo refused; fi\n");
  // ls runs once, just before the question, while sh runs kiv's script.
  const std::string log = sandbox.sub("intrusion.log");
  sandbox.tool("ls", "dir=$(echo " + tmp + "/.tmp*)\n"
                     "stat -c %a \"$dir\" >" + log + "\n"
                     "setpriv --reuid=65534 --regid=65534 --clear-groups /bin/sh " + intruder + " \"$dir\" >>" + log +
                     " 2>&1\n"
                     "cat \"$dir/uninstall.sh\" >" + sandbox.sub("script.after") + "\n"
                     "exec /bin/ls \"$@\"\n");
  RunOptions options = sandbox.kiv(kStable, {"--uninstall"});
  options.stdin_mode = Stdio::Pipe;
  options.stdin_data = "y\n";
  RunResult result = [&] {
    ScopedUmask none(0);
    return run_process(options);
  }();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, kQuestion + "Preferences kept.\nKiv has been uninstalled\n");
  EXPECT_EQ(lines(read_file(log)), (Lines{"700", "wrote", "refused", "refused"}));
  EXPECT_EQ(read_file(sandbox.sub("script.after")), UNINSTALL_SCRIPT);
  EXPECT_TRUE(fs::exists(drop + "/evil.sh"));
  EXPECT_TRUE(fs::is_empty(tmp)) << "the temporary directory is left behind";
}

// A termination or hang-up while the script waits at its question ends kiv
// as the signal does, with its directory removed; the script's own
// removals before the question stay done.
TEST(Uninstall, TerminationOrHangUpAtTheQuestionLeavesNoDirectory) {
  struct Row {
    int signal;
    bool to_group;  // a hang-up of the terminal reaches kiv and the script
  } rows[] = {{SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << ::strsignal(row.signal) << (row.to_group ? " to the group" : ""));
    Sandbox sandbox;
    sandbox.make(linux_install("kiv.app"));
    RunResult result = signal_when_shown(sandbox.kiv(kStable, {"--uninstall"}), kQuestion, row.signal, row.to_group);
    EXPECT_FALSE(result.timed_out) << result.out;
    EXPECT_EQ(result.term_signal, row.signal);
    EXPECT_EQ(result.out, kQuestion);
    EXPECT_TRUE(fs::is_empty(sandbox.home() + "/tmp")) << "the temporary directory is left behind";
    EXPECT_FALSE(fs::exists(sandbox.home() + "/.local/share/kiv"));
    EXPECT_TRUE(fs::exists(sandbox.home() + "/.config/kiv/settings.json"));
  }
}

// With HOME set and empty every path the script removes would lie under /:
// kiv stops before making or running anything. An unset HOME is left to the
// script, which stops at its first use of it.
TEST(Uninstall, EmptyHomeStopsBeforeAnythingIsMadeOrRun) {
  Sandbox sandbox;
  sandbox.make(linux_install("kiv.app"));
  const std::string ran = sandbox.sub("sh-ran");
  sandbox.tool("sh", "touch " + ran + "\n");  // never the real script with HOME empty: it would remove under /
  const auto before = sandbox.snapshot();
  RunOptions options = sandbox.kiv(kStable, {"--uninstall"});
  options.env["HOME"] = "";
  RunResult result = run_process(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: Refusing to uninstall with an empty HOME: the script would remove files under /\n");
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(ran)) << "sh was started";
  EXPECT_EQ(sandbox.snapshot(), before);

  Sandbox unset;
  unset.make(linux_install("kiv.app"));
  const auto unset_before = unset.snapshot();
  options = unset.kiv(kStable, {"--uninstall"});
  options.env.erase("HOME");
  result = run_process(options);
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_TRUE(std::regex_match(result.err, std::regex(".*/uninstall\\.sh: [0-9]+: HOME: parameter not set\n")))
      << result.err;
  EXPECT_TRUE(unset.removals().empty());
  EXPECT_EQ(unset.snapshot(), unset_before);
}

TEST(Uninstall, UnsupportedPlatformEndsTheScriptBeforeAnyRemoval) {
  Sandbox sandbox;
  sandbox.tool("uname", "echo Plan9\n");
  sandbox.make({".local/bin/kiv", ".kiv_server/state"});
  auto before = sandbox.snapshot();
  RunResult result = run_process(sandbox.kiv(kStable, {"--uninstall"}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Unsupported platform Plan9\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(sandbox.snapshot(), before);
}

// ---------------------------------------------------------------------------
// Uninstall: the script on Linux

TEST(UninstallScriptLinux, RemovesTheChannelsFilesInOrderAndNothingElse) {
  struct Row {
    std::string name;
    std::string binary;                  // empty: the script run by sh on its own
    std::optional<std::string> env_channel;  // KIV_CHANNEL of that run
    std::string app_dir, app_id, db;
    bool unknown;
  } rows[] = {
      {"stable", kStable, std::nullopt, "kiv.app", "dev.kiv.Kiv", "stable", false},
      {"preview", kPreview, std::nullopt, "kiv-preview.app", "dev.kiv.Kiv.Preview", "preview", false},
      {"canary", kCanary, std::nullopt, "kiv-canary.app", "dev.kiv.Kiv", "stable", true},
      {"nightly", "", "nightly", "kiv-nightly.app", "dev.kiv.Kiv.Nightly", "nightly", false},
      {"dev", "", "dev", "kiv-dev.app", "dev.kiv.Kiv.Dev", "dev", false},
      {"unset", "", std::nullopt, "kiv.app", "dev.kiv.Kiv", "stable", false},
      {"empty", "", "", "kiv.app", "dev.kiv.Kiv", "stable", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Sandbox sandbox;
    sandbox.make(linux_install(row.app_dir));
    auto before = sandbox.snapshot();
    RunOptions options = row.binary.empty() ? sandbox.script(row.env_channel) : sandbox.kiv(row.binary, {"--uninstall"});
    options.stdin_mode = Stdio::Pipe;
    options.stdin_data = "n\n";
    RunResult result = run_process(options);

    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    std::string unknown = row.unknown ? "Unknown release channel: " + row.name + ". Using stable app ID.\n" : "";
    EXPECT_EQ(result.out, unknown + kQuestion + "Preferences removed.\nKiv has been uninstalled\n");
    EXPECT_EQ(sandbox.removals(),
              (Lines{"-rf " + sandbox.home() + "/.local/" + row.app_dir,
                            "-f " + sandbox.home() + "/.local/bin/kiv",
                            "-f " + sandbox.home() + "/.local/share/applications/" + row.app_id + ".desktop",
                            "-rf " + sandbox.home() + "/.local/share/kiv/db/0-" + row.db,
                            "-f " + sandbox.home() + "/.local/share/kiv/kiv-" + row.db + ".sock",
                            "-rf " + sandbox.home() + "/.local/share/kiv",
                            "-rf " + sandbox.home() + "/.config/kiv",
                            "-rf " + sandbox.home() + "/.kiv_server"}));
    EXPECT_EQ(sandbox.snapshot(),
              without(before, {".local/" + row.app_dir, ".local/bin/kiv",
                               ".local/share/applications/" + row.app_id + ".desktop", ".local/share/kiv",
                               ".config/kiv", ".kiv_server"}));
  }
}

TEST(UninstallScriptLinux, PreferencesGoOnlyOnAnAnswerOfNo) {
  struct Row {
    std::string answer;
    bool removed;
  } rows[] = {
      {"n", true},    {"N", true},     {"no", true},   {"No", true},    {"nO", true},
      {"NO", true},   {"", false},     {"y", false},   {"Y", false},    {"yes", false},
      {"nah", false}, {"non", false},  {"n o", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    Sandbox sandbox;
    sandbox.make(linux_install("kiv.app"));
    RunOptions options = sandbox.kiv(kStable, {"--uninstall"});
    options.stdin_mode = Stdio::Pipe;
    options.stdin_data = row.answer + "\n";
    RunResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, kQuestion + (row.removed ? "Preferences removed." : "Preferences kept.") +
                              "\nKiv has been uninstalled\n");
    EXPECT_EQ(fs::exists(sandbox.home() + "/.config/kiv/settings.json"), !row.removed);
    EXPECT_TRUE(fs::exists(sandbox.home() + "/.config/other/keep"));
  }
}

TEST(UninstallScriptLinux, EndOfInputAtTheQuestionStopsTheScriptWithStatus1) {
  Sandbox sandbox;
  sandbox.make(linux_install("kiv.app"));
  RunResult result = run_process(sandbox.kiv(kStable, {"--uninstall"}));  // standard input: /dev/null
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, kQuestion);
  // Everything before the question is done, nothing after it.
  EXPECT_FALSE(fs::exists(sandbox.home() + "/.local/share/kiv"));
  EXPECT_TRUE(fs::exists(sandbox.home() + "/.config/kiv/settings.json"));
  EXPECT_TRUE(fs::exists(sandbox.home() + "/.kiv_server/state"));
  ASSERT_FALSE(sandbox.removals().empty());
  EXPECT_EQ(sandbox.removals().back(), "-rf " + sandbox.home() + "/.local/share/kiv");
  EXPECT_TRUE(fs::is_empty(sandbox.home() + "/tmp"));
}

// Another channel still installed: the shared data directory, the
// preferences and the question stay.
TEST(UninstallScriptLinux, AnotherChannelLeftKeepsWhatChannelsShare) {
  Sandbox sandbox;
  sandbox.make(linux_install("kiv.app"));
  sandbox.make({".local/kiv-preview.app/bin/kiv-editor"});
  auto before = sandbox.snapshot();
  RunResult result = run_process(sandbox.kiv(kStable, {"--uninstall"}));  // no answer to give
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "Kiv has been uninstalled\n");
  EXPECT_EQ(sandbox.snapshot(),
            without(before, {".local/kiv.app", ".local/bin/kiv", ".local/share/applications/dev.kiv.Kiv.desktop",
                             ".local/share/kiv/db/0-stable", ".local/share/kiv/kiv-stable.sock", ".kiv_server"}));
}

// ---------------------------------------------------------------------------
// Uninstall: the script's macOS branch, with uname saying Darwin

TEST(UninstallScriptMacos, RemovesTheApplicationsFilesUnderHome) {
  if (fs::exists("/Applications")) GTEST_SKIP() << "/Applications exists here; the macOS branch would remove from it";
  const std::string documents =
      "Library/Application Support/com.apple.sharedfilelist/com.apple.LSSharedFileList.ApplicationRecentDocuments/";
  struct Row {
    std::string binary, app_id, other_id, db;
  } rows[] = {
      {kStable, "dev.kiv.Kiv", "dev.kiv.Kiv.Preview", "stable"},
      {kPreview, "dev.kiv.Kiv.Preview", "dev.kiv.Kiv", "preview"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.app_id);
    Sandbox sandbox;
    sandbox.tool("uname", "echo Darwin\n");
    const std::string& id = row.app_id;
    sandbox.make({
        ".local/bin/kiv",
        "Library/Application Support/Kiv/db/0-" + row.db + "/data",
        "Library/Application Support/Kiv/settings",
        documents + id + ".sfl2",
        documents + id + ".sfl3",
        documents + row.other_id + ".sfl2",
        documents + "other.app.sfl2",
        "Library/Caches/" + id + "/cache",
        "Library/Caches/" + row.other_id + "/cache",
        "Library/HTTPStorages/" + id + "/storage",
        "Library/Preferences/" + id + ".plist",
        "Library/Preferences/" + row.other_id + ".plist",
        "Library/Saved Application State/" + id + ".savedState/state",
        "Library/Logs/Kiv/log",
        "Library/Logs/Other/log",
        ".config/kiv/settings.json",
        ".kiv_server/state",
    });
    auto before = sandbox.snapshot();
    RunOptions options = sandbox.kiv(row.binary, {"--uninstall"});
    options.stdin_mode = Stdio::Pipe;
    options.stdin_data = "n\n";
    RunResult result = run_process(options);

    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kQuestion + "Preferences removed.\nKiv has been uninstalled\n");
    const std::string h = sandbox.home() + "/";
    EXPECT_EQ(sandbox.removals(),
              (Lines{"-f " + h + ".local/bin/kiv", "-rf " + h + "Library/Application Support/Kiv/db/0-" + row.db,
                            "-rf " + h + documents + id + ".sfl2 " + h + documents + id + ".sfl3",
                            "-rf " + h + "Library/Caches/" + id, "-rf " + h + "Library/HTTPStorages/" + id,
                            "-rf " + h + "Library/Preferences/" + id + ".plist",
                            "-rf " + h + "Library/Saved Application State/" + id + ".savedState",
                            "-rf " + h + "Library/Application Support/Kiv", "-rf " + h + "Library/Logs/Kiv",
                            "-rf " + h + ".config/kiv", "-rf " + h + ".kiv_server"}));
    EXPECT_EQ(sandbox.snapshot(),
              without(before, {".local/bin/kiv", documents + id + ".sfl2", documents + id + ".sfl3",
                               "Library/Caches/" + id, "Library/HTTPStorages/" + id,
                               "Library/Preferences/" + id + ".plist",
                               "Library/Saved Application State/" + id + ".savedState",
                               "Library/Application Support/Kiv", "Library/Logs/Kiv", ".config/kiv",
                               ".kiv_server"}));
    EXPECT_FALSE(fs::exists("/Applications"));
  }
}

}  // namespace
}  // namespace kiv
