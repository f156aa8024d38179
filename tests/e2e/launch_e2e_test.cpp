// Both ways of reaching the editor, and what the request carries.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>

#include "e2e_support.hpp"

namespace kiv::e2e {
namespace {

namespace fs = std::filesystem;
using testing::run_process;

class LaunchE2e : public E2eTest {
 protected:
  // Files and directories the arguments name, in work().
  void lay_out_tree() {
    testing::write_file(work() + "/a.rs", "fn main() {}\n");
    testing::write_file(work() + "/old.txt", "old\n");
    testing::write_file(work() + "/new.txt", "new\n");
    fs::create_directories(work() + "/dir");
    fs::create_directories(work() + "/left/sub");
    fs::create_directories(work() + "/right/sub");
    testing::write_file(work() + "/left/both.txt", "l");
    testing::write_file(work() + "/right/both.txt", "r");
    testing::write_file(work() + "/left/sub/only_old.txt", "l");
    testing::write_file(work() + "/right/only_new.txt", "r");
  }
};

// Every position form, a directory, a file that does not exist yet, the five
// URL schemes, a pair of files and a pair of directories.
const std::vector<std::string> kFullArgs = {
    "--wait",      "--diff",      "old.txt",     "new.txt",          "--diff",           "left",
    "right",       "a.rs:10:5",   "a.rs:10",     "a.rs(10,5)",       "a.rs(10:5)",       "a.rs(10)",
    "a.rs:(10,5)", "a.rs:(10:5)", "a.rs:(10)",   "dir",              "not/yet.txt:7",    "https://example.com/a?b=c#d",
    "kiv://settings", "file:///etc/hosts", "ssh://host/~/src", "http://x"};

void expect_full_request(const json& request, const std::string& work, const std::string& tmpdir) {
  const std::string a = work + "/a.rs";
  EXPECT_EQ(request["kind"], "Open");
  EXPECT_EQ(request["paths"], json({a + ":10:5", a + ":10", a + ":10:5", a + ":10:5", a + ":10", a + ":10:5",
                                    a + ":10:5", a + ":10", work + "/dir", work + "/not/yet.txt:7"}));
  EXPECT_EQ(request["urls"],
            json({"https://example.com/a?b=c#d", "kiv://settings", "file:///etc/hosts", "ssh://host/~/src", "http://x"}));
  const json& diffs = request["diff_paths"];
  ASSERT_EQ(diffs.size(), 4u) << diffs.dump();
  EXPECT_EQ(diffs[0], json({work + "/old.txt", work + "/new.txt"}));
  EXPECT_EQ(diffs[1], json({work + "/left/both.txt", work + "/right/both.txt"}));
  // One-sided files are paired with empty placeholders in one kept
  // temporary directory, on the side where the file is missing.
  const std::string only_new = diffs[2][0], only_old = diffs[3][1];
  EXPECT_EQ(diffs[2][1], work + "/right/only_new.txt");
  EXPECT_EQ(diffs[3][0], work + "/left/sub/only_old.txt");
  const std::regex placeholder(std::regex_replace(tmpdir, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                               R"(/\.tmp[A-Za-z0-9]{6}/(only_new\.txt|sub/only_old\.txt))");
  EXPECT_TRUE(std::regex_match(only_new, placeholder)) << only_new;
  EXPECT_TRUE(std::regex_match(only_old, placeholder)) << only_old;
  EXPECT_EQ(fs::path(only_new).parent_path(), fs::path(only_old).parent_path().parent_path());
  EXPECT_TRUE(fs::is_regular_file(only_new) && fs::file_size(only_new) == 0);
  EXPECT_TRUE(fs::is_regular_file(only_old) && fs::file_size(only_old) == 0);
  EXPECT_EQ(request["diff_has_directory"], true);
  EXPECT_EQ(request["reserved_text"], nullptr);
  EXPECT_EQ(request["wait"], true);
  EXPECT_EQ(request["open_behavior"], 0);
  EXPECT_EQ(request["env"], nullptr);  // standard output is a pipe
  EXPECT_EQ(request["user_data_dir"], nullptr);
  EXPECT_EQ(request["dev_container"], false);
  EXPECT_EQ(request["cwd"], work);
}

TEST_F(LaunchE2e, NoEditorRunningStartsADetachedOneThatGetsTheWholeRequest) {
  lay_out_tree();
  script("receive\nstdout opened\nexit 0\n");
  auto result = run_process(kiv(kFullArgs));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "opened\n");
  EXPECT_EQ(result.err, "");

  auto starts = record_events(record(), "start");
  ASSERT_EQ(starts.size(), 1u);
  const json& start = starts[0];
  ASSERT_EQ(start["argv"].size(), 2u) << start.dump();
  EXPECT_EQ(start["argv"][0], testing::stand_in_editor_binary());
  EXPECT_TRUE(start["argv"][1].get<std::string>().starts_with("kiv-cli://" + env_["TMPDIR"] + "/.tmp"));
  EXPECT_EQ(start["force_cli_mode"], "");  // present and empty
  EXPECT_EQ(start["stdio_open"], json({false, false, false}));
  EXPECT_EQ(start["session_leader"], true);
  EXPECT_EQ(start["sigpipe_ignored"], false);  // kiv's own SIGPIPE setting stays kiv's
  auto sessions = record_events(record(), "session");
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0]["via"], "argv");
  expect_full_request(only_open_request(), work(), env_["TMPDIR"]);
}

TEST_F(LaunchE2e, RunningEditorGetsTheUrlAsOneDatagramAndTheSameRequest) {
  lay_out_tree();
  script("receive\nstdout opened\nexit 0\n");
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  EXPECT_EQ(editor.socket(), env_["XDG_DATA_HOME"] + "/kiv/kiv-stable.sock");

  auto result = run_process(kiv(kFullArgs));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "opened\n");
  EXPECT_EQ(record_events(record(), "start").size(), 1u) << "kiv started an editor of its own";
  auto sessions = record_events(record(), "session");
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0]["via"], "datagram");
  EXPECT_TRUE(sessions[0]["url"].get<std::string>().starts_with("kiv-cli://" + env_["TMPDIR"] + "/.tmp"));
  expect_full_request(only_open_request(), work(), env_["TMPDIR"]);
}

TEST_F(LaunchE2e, EachOpenBehaviourFlagSendsItsCode) {
  script("receive\nexit 0\n");
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{}, 0},          {{"--new"}, 1},     {{"-n"}, 1},     {{"--add"}, 3},         {{"-a"}, 3},
      {{"--existing"}, 4}, {{"-e"}, 4},     {{"--classic"}, 5}, {{"--reuse"}, 6}, {{"--new", "--add"}, 3},
      {{"--reuse", "--existing"}, 4}};
  for (const auto& [flags, code] : cases) {
    SCOPED_TRACE(::testing::PrintToString(flags));
    size_t before = requests().size();
    auto args = flags;
    args.push_back("file.txt");
    auto result = run_process(kiv(args));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    auto all = requests();
    ASSERT_EQ(all.size(), before + 1);
    EXPECT_EQ(all.back()["open_behavior"], code);
  }
}

TEST_F(LaunchE2e, UserDataDirGoesAsTypedBothWays) {
  script("receive\nexit 0\n");
  // Detached: on the editor's command line and in the request, unresolved.
  auto detached = run_process(kiv({"--user-data-dir", "rel/dir", "x.txt"}));
  EXPECT_EQ(detached.exit_code, 0) << detached.err;
  auto starts = record_events(record(), "start");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["argv"].size(), 4u);
  EXPECT_EQ(starts[0]["argv"][2], "--user-data-dir");
  EXPECT_EQ(starts[0]["argv"][3], "rel/dir");
  EXPECT_EQ(only_open_request()["user_data_dir"], "rel/dir");

  // Hand-over: the socket is looked for in rel/dir, relative to the working
  // directory, not in the data directory.
  ServingEditor editor(env_, home_.sub("serve.jsonl"), "rel/dir", work());
  ASSERT_TRUE(editor.ready());
  EXPECT_EQ(editor.socket(), "rel/dir/kiv-stable.sock");
  auto options = kiv({"--user-data-dir", "rel/dir", "x.txt"});
  options.env["KIV_STAND_IN_RECORD"] = home_.sub("serve.jsonl");
  auto handed = run_process(options);
  EXPECT_EQ(handed.exit_code, 0) << handed.err;
  auto sessions = record_events(home_.sub("serve.jsonl"), "session");
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0]["via"], "datagram");
  auto served = record_events(home_.sub("serve.jsonl"), "request");
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0]["request"]["user_data_dir"], "rel/dir");
  EXPECT_EQ(served[0]["request"]["paths"], json({work() + "/x.txt"}));
  kill_recorded_editors(home_.sub("serve.jsonl"), editor.pid());
}

TEST_F(LaunchE2e, EnvironmentTravelsOnlyWhenStandardOutputIsATerminal) {
  script("receive\nexit 0\n");
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  auto options = kiv({"x.txt"});
  options.env["KIV_E2E_MARKER"] = "value with = and blanks";
  auto on_terminal = run_in_pty(options);
  EXPECT_EQ(on_terminal.exit_code, 0) << on_terminal.out;
  auto piped = run_process(options);
  EXPECT_EQ(piped.exit_code, 0) << piped.err;

  auto all = requests();
  ASSERT_EQ(all.size(), 2u);
  ASSERT_TRUE(all[0]["env"].is_array()) << all[0].dump();
  std::map<std::string, std::string> sent;
  for (const auto& entry : all[0]["env"]) sent[entry[0]] = entry[1];
  EXPECT_EQ(sent["KIV_E2E_MARKER"], "value with = and blanks");
  EXPECT_EQ(sent["HOME"], env_["HOME"]);
  EXPECT_EQ(all[1]["env"], nullptr);
}

// A datagram socket bound at `path`, to see whether anything was sent there.
struct DatagramTrap {
  explicit DatagramTrap(const std::string& path) : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~DatagramTrap() { ::close(fd); }
  bool received_nothing() const {
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
  }
  int fd;
  bool bound = false;
};

TEST_F(LaunchE2e, SocketPathOf108BytesIsNeverTriedAndADetachedEditorStarts) {
  script("receive\nexit 0\n");
  const std::string name = "/kiv-stable.sock";
  for (size_t length : {107u, 108u, 200u}) {
    SCOPED_TRACE(length);
    const std::string dir = work() + "/" + std::string(length - work().size() - name.size() - 1, 'd');
    fs::create_directories(dir);
    const std::string socket_path = dir + name;
    ASSERT_EQ(socket_path.size(), length);
    const std::string serve_record = home_.sub("serve" + std::to_string(length) + ".jsonl");
    std::optional<ServingEditor> editor;
    std::optional<DatagramTrap> trap;
    if (length == 107) {
      editor.emplace(env_, serve_record, dir);
      ASSERT_TRUE(editor->ready());
    } else {
      // An address cut to its first 107 bytes would reach this socket.
      trap.emplace(socket_path.substr(0, 107));
      ASSERT_TRUE(trap->bound) << std::strerror(errno);
    }
    size_t starts_before = record_events(record(), "start").size();
    auto options = kiv({"--user-data-dir", dir, "x.txt"});
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    size_t started = record_events(record(), "start").size() - starts_before;
    if (length == 107) {
      EXPECT_EQ(started, 0u);
      auto sessions = record_events(serve_record, "session");
      ASSERT_EQ(sessions.size(), 1u);
      EXPECT_EQ(sessions[0]["via"], "datagram");
    } else {
      EXPECT_EQ(started, 1u);
      EXPECT_TRUE(trap->received_nothing());
    }
    fs::remove_all(dir);
  }
}

TEST_F(LaunchE2e, DetachedEditorThatCannotBeExecutedEndsKivWithTheExecFailure) {
  // Before, kiv waited for ever for a connection from an editor that never
  // ran; now the failed exec is its error.
  const std::string editor = home_.sub("foreign");
  testing::write_file(editor, "\x7F" "ELF, but not for this machine");
  ::chmod(editor.c_str(), 0755);
  auto options = kiv({"--kiv", editor, "x.txt"});
  options.timeout = std::chrono::seconds(10);
  auto result = run_process(options);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: failed to exec \"" + editor + "\": couldn't exec process: Exec format error\n");
  EXPECT_EQ(result.out, "");
  // Nothing will connect, and the rendezvous is not left behind.
  EXPECT_TRUE(fs::is_empty(env_["TMPDIR"]));
}

class ForegroundE2e : public E2eTest {};

TEST_F(ForegroundE2e, EditorEndingWithOneWithoutAnExitGivesZero) {
  // The editor takes the request, reports nothing and ends with status 1.
  script("receive\n");
  const std::string editor = home_.sub("editor.sh");
  testing::write_file(editor, "#!/bin/sh\n\"" + testing::stand_in_editor_binary() + "\" \"$@\"\nexit 1\n");
  ::chmod(editor.c_str(), 0755);
  auto result = run_process(kiv({"--foreground", "--kiv", editor, "x.txt"}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  auto starts = record_events(record(), "start");
  ASSERT_EQ(starts.size(), 1u);
  // A child of kiv with kiv's streams and environment: no KIV_FORCE_CLI_MODE.
  EXPECT_EQ(starts[0]["force_cli_mode"], nullptr);
  EXPECT_EQ(starts[0]["session_leader"], false);
  EXPECT_EQ(starts[0]["stdio_open"], json({true, true, true}));
  EXPECT_EQ(only_open_request()["paths"], json({work() + "/x.txt"}));
}

TEST_F(ForegroundE2e, EverythingAConnectedEditorSentIsRelayedBeforeKivEnds) {
  // The editor's last messages are still on their way, or still being
  // written out by kiv, when the editor process ends: kiv ends only after
  // them, with the status reported. cmp compares kiv's output byte for byte;
  // kiv's status and cmp's come on standard output. Four runs at a time;
  // under a sanitizer, where relaying 64 MiB takes kiv seconds, one round.
  constexpr std::size_t TEXT = std::size_t{64} << 20;
  constexpr int AT_A_TIME = 4, RUNS = testing::SANITIZED ? AT_A_TIME : 20;
  const std::string expected = home_.sub("expected");
  testing::write_file(expected, testing::stand_in_bulk_text(TEXT) + "\n");
  script("receive\nstdout-bulk " + std::to_string(TEXT) + "\nexit 7\n");
  auto options = kiv({});
  options.argv = {"/bin/bash", "-c", R"(e=$1; shift; "$@" | cmp - "$e" >&2; s=("${PIPESTATUS[@]}"); echo "${s[*]}")",
                  "bash", expected, testing::kiv_binary(), "--foreground", "x.txt"};
  options.timeout = std::chrono::seconds(60);
  for (int first = 0; first < RUNS && !HasFailure(); first += AT_A_TIME) {
    std::vector<std::unique_ptr<Spawned>> runs;
    for (int run = first; run < first + AT_A_TIME; ++run) runs.push_back(std::make_unique<Spawned>(options));
    for (int run = first; run < first + AT_A_TIME; ++run) {
      SCOPED_TRACE("run " + std::to_string(run));
      auto result = runs[static_cast<std::size_t>(run - first)]->finish();
      EXPECT_FALSE(result.timed_out);
      EXPECT_EQ(result.out, "7 0\n");
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_TRUE(fs::is_empty(env_["TMPDIR"]));
}

TEST_F(ForegroundE2e, EditorThatNeverConnectsOrFailsTheHandshakeEndsKivQuietlyWithZero) {
  // Never connecting: nothing is waited for once the editor has ended. A
  // failed handshake is no error of kiv's with --foreground.
  for (const char* handshake : {"never", "short", "silent"}) {
    SCOPED_TRACE(handshake);
    script(std::string("handshake ") + handshake + "\n");
    auto result = run_process(kiv({"--foreground", "x.txt"}));
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_empty(env_["TMPDIR"]));
  }
  EXPECT_EQ(record_events(record(), "start").size(), 3u);
}

TEST_F(ForegroundE2e, EditorThatCannotBeExecutedIsTheOsError) {
  const std::string editor = home_.sub("not-executable");
  testing::write_file(editor, "#!/bin/sh\nexit 0\n");
  ::chmod(editor.c_str(), 0644);
  auto result = run_process(kiv({"--foreground", "--kiv", editor, "x.txt"}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: Permission denied (os error 13)\n");
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(fs::is_empty(env_["TMPDIR"]));
}

}  // namespace
}  // namespace kiv::e2e
