// The exchange with the editor, driven by the stand-in's script.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <vector>

#include "e2e_support.hpp"

namespace kiv::e2e {
namespace {

namespace fs = std::filesystem;
using testing::run_process;

class ExchangeE2e : public E2eTest {};

struct ExchangeCase {
  const char* name;
  const char* script;
  int status;
  const char* out;
  const char* err;
};

TEST_F(ExchangeE2e, EditorScriptsEndAsTheEditorSays) {
  const ExchangeCase cases[] = {
      {"exit 3", "receive\nexit 3\n", 3, "", ""},
      {"exit -1 is 255 to the parent", "receive\nexit -1\n", 255, "", ""},
      {"closed without exit", "receive\n", 0, "", ""},
      {"each stream its own", "receive\nstdout to out\nstderr to err\nexit 0\n", 0, "to out\n", "to err\n"},
      {"empty and multi-line messages", "receive\nstdout\nstdout a\\nb\\n\nstderr\nexit 0\n", 0, "\na\nb\n\n", "\n"},
      {"ignored is passed over", "receive\nignored\nstdout x\nexit 0\n", 0, "x\n", ""},
      {"nothing after exit is printed", "receive\nstdout before\nexit 4\nstdout after\nstderr after\n", 4, "before\n",
       ""},
      {"short Exit", "receive\nstdout kept\nmalformed short\nexit 5\n", 0, "kept\n", ""},
      {"variant index 5", "receive\nstdout kept\nmalformed bad-index\nexit 5\n", 0, "kept\n", ""},
      {"text not UTF-8", "receive\nstderr kept\nmalformed bad-utf8\nexit 5\n", 0, "", "kept\n"},
      {"length beyond the payload", "receive\nstdout kept\nmalformed long-length\nexit 5\n", 0, "kept\n", ""},
      {"short handshake", "handshake short\n", 1, "",
       "error: Handshake after Kiv spawn: io error: unexpected end of file\n"},
      {"connect and close", "handshake silent\n", 1, "",
       "error: Handshake after Kiv spawn: io error: All senders for this socket closed\n"},
      // The editor asks, then reports and quits without reading the answer:
      // what it sent before quitting still counts.
      {"exit after an unanswerable question", "receive\nsend 04000000\nstdout last words\nexit 3\n", 3,
       "last words\n", ""},
  };
  // The serving editor reads the script file anew for every session.
  script(cases[0].script);
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script(c.script);
    auto result = run_process(kiv({"x.txt"}));
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, c.status) << result.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}

TEST_F(ExchangeE2e, DebugStateIsTheOnlyRequest) {
  script("receive\nexit 0\n");
  auto result = run_process(kiv({"--debug-state", "x.txt"}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto all = requests();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], json({{"kind", "DebugState"}}));
}

TEST_F(ExchangeE2e, QuestionsWithStandardInputRedirectedAreAnsweredWithZero) {
  script("receive\nprompt\nprompt\nexit 0\n");
  for (auto mode : {testing::Stdio::DevNull, testing::Stdio::Pipe}) {
    auto options = kiv({"x.txt"});
    options.stdin_mode = mode;
    auto result = run_process(options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");  // nothing drawn
  }
  auto all = requests();
  ASSERT_EQ(all.size(), 6u);
  for (size_t i : {1u, 2u, 4u, 5u}) EXPECT_EQ(all[i], json({{"kind", "SetOpenBehavior"}, {"choice", 0}}));
}

TEST_F(ExchangeE2e, WorkingDirectoryRemovedBeforeTheEditorConnects) {
  script("receive\nexit 0\n");
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  // Held still, the editor cannot connect before the directory is gone.
  ASSERT_EQ(::kill(editor.pid(), SIGSTOP), 0);
  const std::string doomed = home_.sub("doomed");
  fs::create_directories(doomed);
  auto options = kiv({"https://example.com"});
  options.cwd = doomed;
  Spawned run(options);
  // The one-shot server's socket appears once the request is assembled.
  ASSERT_TRUE(wait_until([&] {
    for (const auto& entry : fs::directory_iterator(env_["TMPDIR"]))
      if (fs::exists(entry.path() / "socket")) return true;
    return false;
  }));
  fs::remove(doomed);
  ASSERT_EQ(::kill(editor.pid(), SIGCONT), 0);
  auto result = run.finish();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  auto request = only_open_request();
  EXPECT_EQ(request["cwd"], nullptr);
  EXPECT_EQ(request["urls"], json({"https://example.com"}));
}

TEST_F(ExchangeE2e, AMessageOfNBytesCostsAboutNBytes) {
  if (testing::SANITIZED) GTEST_SKIP() << "sanitizers map terabytes of shadow memory: no address-space limit fits";
  // kiv, with its address space limited to 192 MiB more than the 256 MiB
  // Stdout text it relays, still writes all of it and takes the status
  // that follows. (The editor runs on its own, outside the limit.)
  constexpr std::size_t TEXT = std::size_t{256} << 20;
  script("receive\nstdout-bulk " + std::to_string(TEXT) + "\nexit 7\n");
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  auto options = kiv({});
  options.argv = {"/bin/bash", "-c", "set -o pipefail; prlimit --as=\"$1\" -- \"$0\" https://example.com | wc -c",
                  testing::kiv_binary(), std::to_string(TEXT + (std::size_t{192} << 20))};
  options.timeout = std::chrono::seconds(60);
  auto result = run_process(options);
  EXPECT_EQ(result.exit_code, 7) << result.err;
  EXPECT_EQ(result.out, std::to_string(TEXT + 1) + "\n");
  EXPECT_EQ(result.err, "");
}

// The mmap, munmap and mremap calls of every thread of one kiv run, counted
// by strace, with what kiv printed.
struct MappingCalls {
  int calls = -1;
  testing::RunResult run;
};

MappingCalls mapping_calls(testing::RunOptions options, const std::string& summary) {
  options.argv.insert(options.argv.begin(),
                      {"/usr/bin/strace", "-f", "-qq", "-c", "-o", summary, "-e", "trace=mmap,munmap,mremap"});
  // LeakSanitizer cannot stop the threads of a process that is traced already.
  options.env["ASAN_OPTIONS"] = "detect_leaks=0";
  options.timeout = std::chrono::seconds(120);
  MappingCalls counted{0, run_process(options)};
  // The summary's rows: "% time  seconds  usecs/call  calls  [errors]  syscall".
  std::istringstream rows(testing::read_file(summary));
  std::string row;
  bool any = false;
  while (std::getline(rows, row)) {
    std::istringstream fields(row);
    std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
    if (field.size() < 5 || (field.back() != "mmap" && field.back() != "munmap" && field.back() != "mremap")) continue;
    counted.calls += std::stoi(field[3]);
    any = true;
  }
  if (!any) counted.calls = -1;  // kiv maps something at start, or strace did not run
  return counted;
}

TEST_F(ExchangeE2e, ARunOfMessagesMapsNoMemoryOfItsOwn) {
  ASSERT_EQ(::access("/usr/bin/strace", X_OK), 0) << "strace is missing: scripts/setup installs it";
  // Thousands of small messages, then hundreds of 64 KiB: each run must map
  // and unmap about as often as a run without any message. (Each message in
  // a mapping of its own would add two calls or more per message.)
  const std::string line(100, 'x');
  std::string small = "receive\n";
  for (int i = 0; i < 5000; ++i) small += "stdout " + line + "\n";
  std::string medium = "receive\n";
  for (int i = 0; i < 500; ++i) medium += "stdout-bulk 65536\n";
  struct Case {
    const char* what;
    std::string script;
    std::size_t printed;
  };
  const Case cases[] = {
      {"no message", "receive\nexit 0\n", 0},
      {"5000 messages of 100 bytes", small + "exit 0\n", 5000 * 101},
      {"500 messages of 64 KiB", medium + "exit 0\n", 500 * 65537},
  };
  script(cases[0].script);
  ServingEditor editor(env_, record());
  ASSERT_TRUE(editor.ready());
  int without_messages = -1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    script(c.script);
    auto counted = mapping_calls(kiv({"x.txt"}), home_.sub("strace.txt"));
    ASSERT_FALSE(counted.run.timed_out);
    ASSERT_EQ(counted.run.exit_code, 0) << counted.run.err;
    EXPECT_EQ(counted.run.out.size(), c.printed);
    ASSERT_GT(counted.calls, 0) << "strace counted nothing: " << counted.run.err;
    if (without_messages < 0) {
      without_messages = counted.calls;
      continue;
    }
    EXPECT_LE(counted.calls, without_messages + 2) << "against " << without_messages << " without any message";
  }
}

// What is left in `dir`: its directories and its plain files.
struct Left {
  int directories = 0;
  int files = 0;
};
Left left_in(const std::string& dir) {
  Left left;
  for (const auto& entry : fs::directory_iterator(dir)) ++(entry.is_directory() ? left.directories : left.files);
  return left;
}

bool server_listening(const std::string& tmpdir) {
  for (const auto& entry : fs::directory_iterator(tmpdir))
    if (fs::exists(entry.path() / "socket")) return true;
  return false;
}

TEST_F(ExchangeE2e, SignalsWhileWaitingForTheEditorRemoveTheServerAndEndAsUsual) {
  script("handshake never\n");
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal_number));
    const std::string tmpdir = home_.sub("tmp-" + std::to_string(signal_number));
    fs::create_directories(tmpdir);
    auto options = kiv({"-"});
    options.env["TMPDIR"] = tmpdir;
    Spawned run(options);
    // The server comes first, standard input's file a little later.
    ASSERT_TRUE(wait_until([&] { return server_listening(tmpdir) && left_in(tmpdir).files == 1; }));
    ASSERT_EQ(::kill(run.pid(), signal_number), 0);
    auto result = run.finish();
    EXPECT_EQ(result.term_signal, signal_number) << result.err;
    EXPECT_FALSE(result.timed_out);
    // The server's directory and socket are gone; standard input's file stays.
    const Left left = left_in(tmpdir);
    EXPECT_EQ(left.directories, 0);
    EXPECT_EQ(left.files, 1);
  }
}

// One system call in an strace log: the name and the whole line.
struct Call {
  std::string name;
  std::string line;
};

// The system calls of the first process in the strace log `log` (written
// with -f, so every line starts with a process id), in order.
std::vector<Call> calls_of_first_process(const std::string& log) {
  std::vector<Call> calls;
  std::istringstream in(log);
  std::string pid, line;
  while (std::getline(in, line)) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    if (pid.empty()) pid = line.substr(0, blank);
    if (line.compare(0, blank, pid) != 0) continue;
    const std::size_t start = line.find_first_not_of(' ', blank);
    const std::size_t paren = line.find('(', start);
    if (start == std::string::npos || paren == std::string::npos) continue;
    std::string name = line.substr(start, paren - start);
    // Resumed halves, signals and the exit are no calls of their own.
    if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos) continue;
    calls.push_back({std::move(name), line});
  }
  return calls;
}

TEST_F(ExchangeE2e, ASignalAtAnySystemCallOfTheServerSetUpLeavesNoDirectory) {
  // Each run injects an interrupt, termination or hang-up signal at one
  // system call of kiv's main thread while it sets up the one-shot server:
  // from the socket to the first call after listen. The editor exits at once
  // should kiv get that far.
  ASSERT_EQ(::access("/usr/bin/strace", X_OK), 0) << "strace is needed (scripts/setup installs it)";
  auto traced = [&](const std::string& tmpdir, std::vector<std::string> strace_args) {
    auto options = kiv({"--foreground", "--kiv", "/bin/true", "x.txt"});
    strace_args.insert(strace_args.begin(), {"/usr/bin/strace", "-f", "-qq"});
    options.argv.insert(options.argv.begin(), strace_args.begin(), strace_args.end());
    options.env["TMPDIR"] = tmpdir;
    // The leak check at exit cannot run under a tracer.
    options.env["ASAN_OPTIONS"] = "detect_leaks=0";
    return run_process(options);
  };

  const std::string log = home_.sub("strace.log");
  const std::string plain_tmp = home_.sub("tmp-plain");
  fs::create_directories(plain_tmp);
  auto plain = traced(plain_tmp, {"-o", log});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  const std::vector<Call> calls = calls_of_first_process(testing::read_file(log));
  auto first = std::find_if(calls.begin(), calls.end(), [](const Call& c) {
    return c.name == "socket" && c.line.find("SOCK_SEQPACKET") != std::string::npos;
  });
  ASSERT_NE(first, calls.end());
  auto listen = std::find_if(first, calls.end(), [](const Call& c) { return c.name == "listen"; });
  ASSERT_NE(listen, calls.end());
  ASSERT_NE(listen + 1, calls.end());

  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (auto call = first; call <= listen + 1; ++call) {
    // strace counts each system call by name: the how-manieth this one is.
    const auto nth = std::count_if(calls.begin(), call + 1, [&](const Call& c) { return c.name == call->name; });
    const int signal_number = signals[(call - first) % 3];
    SCOPED_TRACE(::strsignal(signal_number) + (" at " + call->line));
    const std::string tmpdir = home_.sub("tmp-" + std::to_string(call - first));
    fs::create_directories(tmpdir);
    auto result = traced(tmpdir, {"-o", "/dev/null", "-e",
                                  "inject=" + call->name + ":signal=" + std::to_string(signal_number) +
                                      ":when=" + std::to_string(nth)});
    EXPECT_FALSE(result.timed_out);
    // strace ends as kiv did.
    EXPECT_EQ(result.term_signal, signal_number) << result.err;
    EXPECT_TRUE(fs::is_empty(tmpdir));
  }
}

TEST_F(ExchangeE2e, IgnoredHangUpStaysIgnoredAndSignalsAfterTheHandshakeEndAsUsual) {
  // Under nohup, a hang-up leaves kiv waiting (were it not ignored, it would
  // end kiv before the termination sent after it); a termination still
  // cleans up.
  script("handshake never\n");
  auto options = kiv({"https://example.com"});
  options.argv.insert(options.argv.begin(), "/usr/bin/nohup");
  Spawned waiting(options);
  ASSERT_TRUE(wait_until([&] { return server_listening(env_["TMPDIR"]); }));
  ASSERT_EQ(::kill(waiting.pid(), SIGHUP), 0);
  ASSERT_EQ(::kill(waiting.pid(), SIGTERM), 0);
  auto result = waiting.finish();
  EXPECT_EQ(result.term_signal, SIGTERM) << result.err;
  EXPECT_EQ(left_in(env_["TMPDIR"]).directories, 0);

  // Connected: the server is already gone, and an interrupt ends kiv at once.
  script("receive\nsleep 30000\n");
  const std::string tmpdir = home_.sub("tmp-connected");
  fs::create_directories(tmpdir);
  options = kiv({"https://example.com"});
  options.env["TMPDIR"] = tmpdir;
  Spawned connected(options);
  ASSERT_TRUE(wait_until([&] { return !requests().empty(); }));
  ASSERT_EQ(::kill(connected.pid(), SIGINT), 0);
  result = connected.finish();
  EXPECT_EQ(result.term_signal, SIGINT) << result.err;
  EXPECT_EQ(left_in(tmpdir).directories, 0);
}

}  // namespace
}  // namespace kiv::e2e
