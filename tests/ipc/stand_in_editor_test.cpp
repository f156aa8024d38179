// The stand-in editor, run as a process and driven through a real one-shot
// server by a test that takes kiv's side of the exchange.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "ipc/messages.hpp"
#include "ipc/one_shot_server.hpp"
#include "raw_peer.hpp"
#include "test_support.hpp"

namespace kiv::ipc {
namespace {

using nlohmann::json;
namespace support = kiv::testing;

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = support::kiv_env(home_.path());
    env_["KIV_STAND_IN_RECORD"] = home_.sub("record.jsonl");
  }
  void TearDown() override {
    if (thread_.joinable()) thread_.join();
  }

  void script(const std::string& text) {
    support::write_file(home_.sub("script"), text);
    env_["KIV_STAND_IN_SCRIPT"] = home_.sub("script");
  }

  // Starts the stand-in with `args` on a thread of its own. When it has
  // ended, an accept still waiting on `server_name` is released, so that a
  // stand-in that never connects fails the test instead of hanging it.
  void start(std::vector<std::string> args, std::string server_name = "") {
    support::RunOptions options;
    options.argv = {KIV_STAND_IN_EDITOR_PATH};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env_;
    options.cwd = home_.path();
    options.timeout = std::chrono::seconds(30);
    thread_ = std::thread([this, options, server_name] {
      result_ = support::run_process(options);
      if (!server_name.empty()) {
        auto release = IpcSender::connect(server_name);
      }
    });
  }
  support::RunResult finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

  // A server for one session and the stand-in started for it.
  IpcOneShotServer start_session(std::vector<std::string> extra_args = {}) {
    auto created = IpcOneShotServer::create();
    EXPECT_TRUE(created) << created.error().display();
    std::vector<std::string> args = {handover_url(created->name)};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    start(args, created->name);
    return std::move(created->server);
  }

  static Result<Handshake> handshake(IpcOneShotServer server) {
    KIV_TRY_ASSIGN(auto accepted, std::move(server).accept());
    return decode_handshake(std::move(accepted.first_message));
  }

  // kiv's side after the request: every response up to Exit or the end,
  // answering prompts from `answers` (then ExistingWindow).
  struct Conversation {
    std::vector<CliResponse> responses;
    std::string end;  // the failure that ended it, empty after Exit
  };
  static Conversation converse(const Handshake& h, std::deque<DefaultOpenBehavior> answers = {}) {
    Conversation c;
    for (;;) {
      auto response = receive_response(h.responses);
      if (!response) {
        c.end = response.error().display();
        return c;
      }
      c.responses.push_back(*response);
      if (std::holds_alternative<CliResponse::Exit>(response->value)) return c;
      if (std::holds_alternative<CliResponse::PromptOpenBehavior>(response->value)) {
        DefaultOpenBehavior choice = answers.empty() ? DefaultOpenBehavior::ExistingWindow : answers.front();
        if (!answers.empty()) answers.pop_front();
        EXPECT_TRUE(send_request(h.requests, CliRequest{CliRequest::SetOpenBehavior{choice}}));
      }
    }
  }

  std::vector<json> record() const {
    std::vector<json> events;
    std::string text = support::read_file(home_.sub("record.jsonl"));
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      events.push_back(json::parse(text.substr(start, end - start)));
      start = end + 1;
    }
    return events;
  }
  std::vector<json> events(const std::string& kind) const {
    std::vector<json> found;
    for (const auto& e : record()) {
      if (e["event"] == kind) found.push_back(e);
    }
    return found;
  }

  support::ScopedTempDir home_;
  std::map<std::string, std::string> env_;
  support::ScopedEnv tmpdir_{"TMPDIR", home_.sub("tmp")};  // where this test's servers go, as kiv_env says
  std::thread thread_;
  support::RunResult result_;
};

CliResponse out(std::string text) { return CliResponse{CliResponse::Stdout{std::move(text)}}; }
CliResponse err(std::string text) { return CliResponse{CliResponse::Stderr{std::move(text)}}; }
CliResponse exit_with(int status) { return CliResponse{CliResponse::Exit{status}}; }

TEST_F(StandInTest, ByDefaultDescribesTheRequestAndSaysItIsTheStandIn) {
  env_["KIV_FORCE_CLI_MODE"] = "";
  IpcOneShotServer server = start_session({"--user-data-dir", "rel/dir"});
  std::string url = handover_url(server.name());
  auto h = handshake(std::move(server));
  ASSERT_TRUE(h) << h.error().display();

  CliRequest::Open open;
  open.paths = {"/src/main.rs:10:5", "/tmp/.tmpAbC123"};
  open.urls = {"https://example.org/"};
  open.diff_paths = {{"/old", "/new"}};
  open.wait = true;
  open.open_behavior = OpenBehavior::Classic;
  open.env = EnvEntries{{"B", "1"}, {"A", "x=y"}};
  open.user_data_dir = "rel/dir";
  open.cwd = "/work";
  ASSERT_TRUE(send_request(h->requests, CliRequest{open}));
  Conversation c = converse(*h);
  const std::vector<CliResponse> expected = {
      out("kiv-editor stand-in (not the Kiv editor): received an open request; nothing is opened"),
      out("path: /src/main.rs:10:5"),
      out("path: /tmp/.tmpAbC123"),
      out("url: https://example.org/"),
      out("diff: /old -> /new"),
      out("open behavior: classic"),
      out("wait: yes"),
      out("user data dir: rel/dir"),
      out("working directory: /work"),
      out("environment: 2 variables"),
      exit_with(0),
  };
  EXPECT_EQ(c.responses, expected);
  EXPECT_EQ(finish().exit_code, 0);

  auto starts = events("start");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["argv"], json::array({KIV_STAND_IN_EDITOR_PATH, url, "--user-data-dir", "rel/dir"}));
  EXPECT_EQ(starts[0]["cwd"], home_.path());
  EXPECT_EQ(starts[0]["force_cli_mode"], "");
  EXPECT_EQ(starts[0]["stdio_open"], json::array({true, true, true}));
  EXPECT_EQ(starts[0]["session_leader"], false);  // run_process makes a process group, not a session

  auto requests = events("request");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["session"], 1);
  EXPECT_EQ(requests[0]["size"], encode_request(CliRequest{open})->size());
  EXPECT_EQ(requests[0]["request"], json::parse(R"({
      "kind": "Open", "paths": ["/src/main.rs:10:5", "/tmp/.tmpAbC123"], "urls": ["https://example.org/"],
      "diff_paths": [["/old", "/new"]], "diff_has_directory": false, "reserved_text": null, "wait": true,
      "open_behavior": 5, "env": [["B", "1"], ["A", "x=y"]], "user_data_dir": "rel/dir",
      "dev_container": false, "cwd": "/work"})"));
  auto sessions = events("session");
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0]["url"], url);
  EXPECT_EQ(sessions[0]["via"], "argv");
  EXPECT_EQ(events("session_end").size(), 1u);
  EXPECT_TRUE(events("error").empty());
}

TEST_F(StandInTest, ScriptedResponsesArriveInOrderAndAnswersAreRecorded) {
  script(
      "# a comment, then blank lines\n\n"
      "receive\n"
      "ignored\n"
      "stdout hello\\tworld \\x41\\\\\n"
      "stderr\n"
      "sleep 20\n"
      "prompt\n"
      "prompt\n"
      "exit -1\n"
      "stdout after exit\n"
      "receive\n");
  IpcOneShotServer server = start_session();
  auto h = handshake(std::move(server));
  ASSERT_TRUE(h) << h.error().display();
  ASSERT_TRUE(send_request(h->requests, CliRequest{CliRequest::DebugState{}}));
  Conversation c = converse(*h, {DefaultOpenBehavior::NewWindow, DefaultOpenBehavior::ExistingWindow});
  const std::vector<CliResponse> expected = {
      CliResponse{CliResponse::Ignored{}},
      out("hello\tworld A\\"),
      err(""),
      CliResponse{CliResponse::PromptOpenBehavior{}},
      CliResponse{CliResponse::PromptOpenBehavior{}},
      exit_with(-1),
  };
  EXPECT_EQ(c.responses, expected);
  auto after = receive_response(h->responses);  // sent, though kiv would not read it
  ASSERT_TRUE(after);
  EXPECT_EQ(*after, out("after exit"));
  { Handshake gone = std::move(*h); }  // kiv ends: both of its ends close
  EXPECT_EQ(finish().exit_code, 0);

  auto requests = events("request");
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0]["request"], json::parse(R"({"kind": "DebugState"})"));
  EXPECT_EQ(requests[1]["request"], json::parse(R"({"kind": "SetOpenBehavior", "choice": 1})"));
  EXPECT_EQ(requests[2]["request"], json::parse(R"({"kind": "SetOpenBehavior", "choice": 0})"));
  EXPECT_EQ(requests[0]["size"], 4);
  EXPECT_EQ(requests[1]["size"], 8);
  auto errors = events("error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0]["stage"], "receive");
  EXPECT_EQ(errors[0]["error"], "io error: All senders for this socket closed");
}

TEST_F(StandInTest, SendsMalformedAndOversizedPayloads) {
  script(
      "receive\n"
      "malformed short\n"
      "malformed bad-index\n"
      "malformed bad-utf8\n"
      "malformed long-length\n"
      "send 04 00 00 00\n"
      "send 0300 0000 0700 0000\n"
      "stdout-bulk 5243880\n"
      "stderr-bulk 17\n");
  IpcOneShotServer server = start_session();
  auto h = handshake(std::move(server));
  ASSERT_TRUE(h) << h.error().display();
  ASSERT_TRUE(send_request(h->requests, CliRequest{CliRequest::Open{}}));
  const char* failures[] = {
      "io error: unexpected end of file",
      "invalid value: integer `5`, expected variant index 0 <= i < 5",
      "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 0",
      "io error: ",
  };
  for (const char* failure : failures) {
    SCOPED_TRACE(failure);
    auto response = receive_response(h->responses);
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error().display(), failure);
  }
  EXPECT_EQ(*receive_response(h->responses), CliResponse{CliResponse::PromptOpenBehavior{}});
  EXPECT_EQ(*receive_response(h->responses), exit_with(7));
  auto big = receive_response(h->responses);
  ASSERT_TRUE(big) << big.error().display();
  ASSERT_TRUE(std::holds_alternative<CliResponse::Stdout>(big->value));
  const std::string& text = std::get<CliResponse::Stdout>(big->value).message;
  // Five blocks and a part of one: the payload's pages past the first block
  // are the stand-in's repeated mappings.
  EXPECT_EQ(text.size(), 5243880u);
  EXPECT_TRUE(text == support::stand_in_bulk_text(5243880));
  EXPECT_EQ(text.substr(0, 32), "000000000000000\n000000000000016\n");
  EXPECT_EQ(text.substr((4u << 20) - 16, 32), "000000001048560\n000000000000000\n");
  EXPECT_EQ(*receive_response(h->responses), err("000000000000000\n0"));
  auto end = receive_response(h->responses);
  ASSERT_FALSE(end);
  EXPECT_EQ(end.error().display(), "io error: All senders for this socket closed");
  EXPECT_EQ(finish().exit_code, 0);
}

TEST_F(StandInTest, BrokenHandshakesAndClosedChannels) {
  struct Case {
    const char* script;
    std::string handshake_error;  // empty: the handshake succeeds
    std::string after;            // then what kiv's side meets
  };
  const Case cases[] = {
      {"handshake short\n", "io error: unexpected end of file", ""},
      {"handshake bad-index\n", "channel index 5 names no descriptor: the message carries 2", ""},
      {"sleep 10\nhandshake silent\nsleep 10\n", "io error: All senders for this socket closed", ""},
      {"receive\nclose responses\nreceive\n", "", "response: io error: All senders for this socket closed"},
      {"receive\nclose requests\nsend 04000000\nsleep 50\n", "", "answer: io error: Broken pipe (os error 32)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    script(c.script);
    IpcOneShotServer server = start_session();
    {
      auto h = handshake(std::move(server));
      if (!c.handshake_error.empty()) {
        ASSERT_FALSE(h);
        EXPECT_EQ(h.error().display(), c.handshake_error);
      } else {
        ASSERT_TRUE(h) << h.error().display();
        ASSERT_TRUE(send_request(h->requests, CliRequest{CliRequest::DebugState{}}));
        auto response = receive_response(h->responses);
        if (!response) {
          EXPECT_EQ("response: " + response.error().display(), c.after);
        } else {
          EXPECT_EQ(*response, CliResponse{CliResponse::PromptOpenBehavior{}});
          auto answered = send_request(h->requests, CliRequest{CliRequest::SetOpenBehavior{}});
          ASSERT_FALSE(answered);
          EXPECT_EQ("answer: " + answered.error().display(), c.after);
        }
      }
    }
    EXPECT_EQ(finish().exit_code, 0);
  }
}

TEST_F(StandInTest, ScriptFaultsAreReportedThroughTheSession) {
  struct Case {
    const char* script;
    std::string fault;
  };
  const Case cases[] = {
      {"receive\nbogus 1\n", "line 2: unknown directive \"bogus\""},
      {"exit three\n", "line 1: `exit` needs a signed 32-bit status"},
      {"stdout a\\qb\n", "line 1: unknown escape \\q"},
      {"stdout \\xff\n", "line 1: the text is not valid UTF-8 (for a malformed text use `malformed bad-utf8`)"},
      {"send 0\n", "line 1: an odd number of hex digits"},
      {"receive\nhandshake short\n", "line 2: the handshake comes once, before everything but `sleep`"},
      {"handshake never\nreceive\n", "line 2: after a handshake other than `normal` only `sleep` may follow"},
      {"close responses\nstdout x\n", "line 2: the responses channel is closed already"},
      {"close\nreceive\n", "line 2: the requests channel is closed already"},
      {"receive extra\n", "line 1: `receive` takes no argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    script(c.script);
    IpcOneShotServer server = start_session();
    auto h = handshake(std::move(server));
    ASSERT_TRUE(h) << h.error().display();
    ASSERT_TRUE(send_request(h->requests, CliRequest{CliRequest::DebugState{}}));
    const std::string fault = "script \"" + home_.sub("script") + "\": " + c.fault;
    const std::vector<CliResponse> expected = {err("kiv-editor (stand-in): script error: " + fault), exit_with(1)};
    EXPECT_EQ(converse(*h).responses, expected);
    finish();
    auto errors = events("error");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back()["stage"], "script");
    EXPECT_EQ(errors.back()["error"], fault);
  }
}

TEST_F(StandInTest, CommandLineItDoesNotTake) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;
  };
  const Case cases[] = {
      {{}, 2, "nothing to do"},
      {{"--user-data-dir"}, 2, "--user-data-dir needs a directory"},
      {{"https://example.org/"}, 2, "unexpected argument \"https://example.org/\""},
      {{"kiv-cli://" + home_.sub("none")}, 1, "No such file or directory (os error 2)"},
      {{"--help"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
    start(c.args);
    support::RunResult result = finish();
    EXPECT_EQ(result.exit_code, c.status);
    const std::string& shown = c.status == 0 ? result.out : result.err;
    if (c.status != 1) {
      EXPECT_NE(shown.find("kiv's stand-in editor for development and tests, not the Kiv editor"), std::string::npos)
          << shown;
    }
    if (!c.error.empty()) {
      EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
    }
  }
}

TEST_F(StandInTest, ServesTheHandOverSocketUntilStopped) {
  // A stale socket file is replaced.
  std::filesystem::create_directories(home_.sub("rel/dir"));
  const std::string socket_path = home_.sub("rel/dir/kiv-stable.sock");
  {
    UniqueFd stale(::socket(AF_UNIX, SOCK_DGRAM, 0));
    auto address = *unix_socket_address(socket_path);
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length), 0);
  }
  env_["KIV_STAND_IN_SERVE"] = "0";
  IpcOneShotServer first = start_session({"--user-data-dir", "rel/dir"});

  // The first session is the URL it was started with; the socket is bound before it.
  auto h = handshake(std::move(first));
  ASSERT_TRUE(h) << h.error().display();
  ASSERT_EQ(events("listening").size(), 1u);
  EXPECT_EQ(events("listening")[0]["socket"], "rel/dir/kiv-stable.sock");
  ASSERT_TRUE(send_request(h->requests, CliRequest{CliRequest::DebugState{}}));
  EXPECT_EQ(converse(*h).responses.back(), exit_with(0));

  // Then one session per datagram, each a hand-over URL alone.
  for (int session = 2; session <= 3; ++session) {
    SCOPED_TRACE(session);
    auto created = IpcOneShotServer::create();
    ASSERT_TRUE(created);
    UniqueFd datagram(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    auto address = *unix_socket_address(socket_path);
    ASSERT_EQ(::connect(datagram.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length), 0);
    std::string url = handover_url(created->name);
    ASSERT_EQ(::send(datagram.get(), url.data(), url.size(), 0), static_cast<ssize_t>(url.size()));
    auto hs = handshake(std::move(created->server));
    ASSERT_TRUE(hs) << hs.error().display();
    ASSERT_TRUE(send_request(hs->requests, CliRequest{CliRequest::SetOpenBehavior{DefaultOpenBehavior::NewWindow}}));
    const std::vector<CliResponse> expected = {
        out("kiv-editor stand-in (not the Kiv editor): received the default open behavior: new window"),
        exit_with(0)};
    EXPECT_EQ(converse(*hs).responses, expected);
  }

  auto starts = events("start");
  ASSERT_EQ(starts.size(), 1u);
  ::kill(starts[0]["pid"].get<pid_t>(), SIGTERM);
  EXPECT_EQ(finish().exit_code, 0);
  auto sessions = events("session");
  ASSERT_EQ(sessions.size(), 3u);
  EXPECT_EQ(sessions[0]["via"], "argv");
  EXPECT_EQ(sessions[1]["via"], "datagram");
  EXPECT_EQ(sessions[2]["session"], 3);
  auto stops = events("stop");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0]["reason"], "signal");
  struct stat st;
  EXPECT_NE(::lstat(socket_path.c_str(), &st), 0);  // removed on the way out
}

TEST_F(StandInTest, ServerWithoutSessionsStopsWhenIdle) {
  env_["KIV_STAND_IN_SERVE"] = "20";
  start({});
  EXPECT_EQ(finish().exit_code, 0);
  auto listening = events("listening");
  ASSERT_EQ(listening.size(), 1u);
  EXPECT_EQ(listening[0]["socket"], home_.path() + "/data/kiv/kiv-stable.sock");
  ASSERT_EQ(events("stop").size(), 1u);
  EXPECT_EQ(events("stop")[0]["reason"], "idle");
}

}  // namespace
}  // namespace kiv::ipc
