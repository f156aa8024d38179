// The askpass relay, run through the built kiv against a real stream socket.
#include "askpass/askpass.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/unique_fd.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

// An askpass server for one connection. The relay keeps its side open until
// it has the answer and a prompt may hold NUL bytes of its own, so nothing
// marks the prompt's end: the server answers once `prompt_size` bytes have
// arrived, then reads on until the relay closes, so that anything sent
// beyond them still shows in prompt().
class AskpassServer {
 public:
  AskpassServer(std::string path, size_t prompt_size, std::string answer) : path_(std::move(path)) {
    listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path_.data(), path_.size());
    EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(listener_.get(), 1), 0);
    thread_ = std::thread([this, prompt_size, answer = std::move(answer)] {
      UniqueFd peer(::accept(listener_.get(), nullptr, nullptr));
      if (!peer) return;
      bool answered = false;
      char buffer[4096];
      for (;;) {
        if (!answered && prompt_.size() >= prompt_size) {
          (void)!::write(peer.get(), answer.data(), answer.size());
          ::shutdown(peer.get(), SHUT_WR);
          answered = true;
        }
        ssize_t n = ::read(peer.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        prompt_.append(buffer, static_cast<size_t>(n));
      }
    });
  }
  ~AskpassServer() {
    // Unblock the accept when kiv never connected.
    ::shutdown(listener_.get(), SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
  }
  std::string prompt() {
    if (thread_.joinable()) thread_.join();
    return prompt_;
  }

 private:
  std::string path_;
  UniqueFd listener_;
  std::thread thread_;
  std::string prompt_;
};

class AskpassTest : public ::testing::Test {
 protected:
  testing::RunOptions kiv(std::vector<std::string> args) {
    return testing::kiv_run_options(home_.path(), args);
  }
  std::string socket() const { return home_.sub("askpass.sock"); }
  testing::ScopedTempDir home_;
};

TEST_F(AskpassTest, EnvironmentTriggerSendsTheArgumentsAndPrintsTheAnswerUnchanged) {
  struct Case {
    std::vector<std::string> args;
    std::string prompt;
  };
  const Case cases[] = {
      {{"a", "b c"}, std::string("a\0b c\0", 6)},
      {{}, std::string("\0", 1)},
      {{"--help"}, std::string("--help\0", 7)},
      {{"x", ""}, std::string("x\0", 2)},  // already ends in NUL: no second one
  };
  const std::string answer("secret\0\xFF no newline", 19);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt);
    ::unlink(socket().c_str());
    AskpassServer server(socket(), c.prompt.size(), answer);
    auto options = kiv(c.args);
    options.env["KIV_ASKPASS_SOCKET"] = socket();
    auto result = testing::run_process(options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(server.prompt(), c.prompt);
    EXPECT_TRUE(result.out == answer);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(AskpassTest, OptionTriggerSendsStandardInputAndRunsNothingElse) {
  const std::string prompt("Password for 'x':\0", 18);
  AskpassServer server(socket(), prompt.size(), "pw\n");
  auto options = kiv({"--askpass", socket(), "--version"});
  options.stdin_mode = testing::Stdio::Pipe;
  options.stdin_data = prompt;
  auto result = testing::run_process(options);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(server.prompt(), options.stdin_data);
  EXPECT_EQ(result.out, "pw\n");
}

TEST_F(AskpassTest, APeerClosingWithoutAnAnswerPrintsNothing) {
  AskpassServer server(socket(), 1, "");
  auto result = testing::run_process(kiv({"--askpass", socket()}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(server.prompt(), std::string("\0", 1));  // empty standard input
  EXPECT_EQ(result.out, "");
}

TEST_F(AskpassTest, ConnectionFailuresAreOneLineAndStatus1) {
  testing::write_file(home_.sub("plain"), "");
  {
    // A socket file nobody listens on.
    UniqueFd s(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string p = home_.sub("stale.sock");
    std::memcpy(a.sun_path, p.data(), p.size());
    ASSERT_EQ(::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  const std::string long_path = home_.path() + "/" + std::string(120, 's');
  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {home_.sub("missing.sock"), "No such file or directory (os error 2)"},
      {home_.sub("stale.sock"), "Connection refused (os error 111)"},
      {long_path, "path must be shorter than SUN_LEN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto options = kiv({"--help"});
    options.env["KIV_ASKPASS_SOCKET"] = c.path;
    auto result = testing::run_process(options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "Error connecting to socket " + c.path + ": " + c.error + "\n");
    EXPECT_EQ(result.out, "");
  }
  // Set but empty still selects the relay, with an empty socket path.
  auto options = kiv({"--help"});
  options.env["KIV_ASKPASS_SOCKET"] = "";
  auto result = testing::run_process(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind("Error connecting to socket : ", 0), 0u) << result.err;
}

TEST_F(AskpassTest, StandardOutputIsBufferedByLinesAndItsLastFlushIsNotReported) {
  struct Case {
    std::string answer;
    int status;
    std::string err;
  };
  const std::string broken = "Error writing to stdout: Broken pipe (os error 32)\n";
  const Case cases[] = {
      {"secret", 0, ""},  // only a tail: left for the final flush
      {"secret\n", 1, broken},
      {"line\ntail", 1, broken},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ::unlink(socket().c_str());
    AskpassServer server(socket(), 1, c.answer);  // standard input is empty
    auto options = kiv({"--askpass", socket()});
    options.stdout_mode = testing::Stdio::BrokenPipe;  // a reader that has gone
    auto result = testing::run_process(options);
    EXPECT_EQ(result.exit_code, c.status);
    EXPECT_EQ(result.err, c.err);
  }
}

TEST_F(AskpassTest, NonUtf8SocketVariableCountsAsUnset) {
  auto options = kiv({"--help"});
  options.env["KIV_ASKPASS_SOCKET"] = "\xFF";
  auto result = testing::run_process(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("Usage:"), std::string::npos);
}

}  // namespace
}  // namespace kiv
