// The one-shot server: its name, its one connection, and that its directory
// is gone afterwards whatever happened.
#include "ipc/one_shot_server.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>

#include "ipc/messages.hpp"
#include "raw_peer.hpp"
#include "test_support.hpp"

namespace kiv::ipc {
namespace {

class OneShotServerTest : public ::testing::Test {
 protected:
  IpcOneShotServer::Created create() {
    auto created = IpcOneShotServer::create();
    if (!created) ADD_FAILURE() << created.error().display();
    return std::move(*created);
  }
  static std::string directory_of(const std::string& name) { return name.substr(0, name.rfind('/')); }
  static bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }

  kiv::testing::ScopedTempDir dir_;
  kiv::testing::ScopedEnv tmpdir_{"TMPDIR", dir_.path()};
};

TEST_F(OneShotServerTest, ListensOnASocketInADirectoryOfItsOwn) {
  auto [server, name] = create();
  EXPECT_EQ(server.name(), name);
  EXPECT_TRUE(std::regex_match(name, std::regex(dir_.path() + "/\\.tmp[A-Za-z0-9]{6}/socket"))) << name;
  struct stat st;
  ASSERT_EQ(::lstat(name.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(handover_url(name), "kiv-cli://" + name);
  EXPECT_EQ(handover_url(name).substr(0, 13), "kiv-cli:///tm");
  EXPECT_EQ(server_name_from_handover_url(handover_url(name)), name);
  EXPECT_EQ(server_name_from_handover_url("kiv://x"), std::nullopt);

  // It is a sequenced-packet listener: a stream client is refused.
  kiv::UniqueFd stream(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  auto address = *unix_socket_address(name);
  EXPECT_NE(::connect(stream.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length), 0);
  EXPECT_EQ(errno, EPROTOTYPE);
}

TEST_F(OneShotServerTest, TakesTheHandshakeAndLeavesNothingBehind) {
  auto [server, name] = create();
  auto connection = IpcSender::connect(name);
  ASSERT_TRUE(connection) << connection.error().display();
  auto requests = *channel();
  auto responses = *channel();
  ASSERT_TRUE(send_handshake(*connection, Handshake{std::move(requests.sender), std::move(responses.receiver)}));

  auto accepted = std::move(server).accept();
  ASSERT_TRUE(accepted) << accepted.error().display();
  EXPECT_FALSE(exists(directory_of(name)));
  EXPECT_TRUE(testing::is_close_on_exec(accepted->connection.fd()));
  auto handshake = decode_handshake(std::move(accepted->first_message));
  ASSERT_TRUE(handshake) << handshake.error().display();

  ASSERT_TRUE(send_request(handshake->requests, CliRequest{CliRequest::DebugState{}}));
  auto request = receive_request(requests.receiver);
  ASSERT_TRUE(request);
  EXPECT_EQ(*request, CliRequest{CliRequest::DebugState{}});
  ASSERT_TRUE(send_response(responses.sender, CliResponse{CliResponse::Exit{7}}));
  auto response = receive_response(handshake->responses);
  ASSERT_TRUE(response);
  EXPECT_EQ(*response, CliResponse{CliResponse::Exit{7}});

  // Once taken, nobody can connect any more.
  auto late = IpcSender::connect(name);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().display(), "No such file or directory (os error 2)");
}

// Connects a sequenced-packet socket to `path` as user and group 65534 in a
// child process; returns connect's errno, or 0 when it connected.
int connect_as_another_user(const std::string& path) {
  const UnixSocketAddress address = *unix_socket_address(path);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(255);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ::_exit(::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0 ? 0 : errno);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(OneShotServerTest, NoOtherUserCanConnectWhateverTheUmask) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Only the server's own directory may keep the other user out.
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  const mode_t saved_umask = ::umask(0);
  auto [server, name] = create();
  // For comparison: a listener in a directory anyone may enter.
  const std::string open_dir = dir_.sub("open");
  ASSERT_EQ(::mkdir(open_dir.c_str(), 0777), 0);
  UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  const UnixSocketAddress open_address = *unix_socket_address(open_dir + "/socket");
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&open_address.address), open_address.length), 0);
  ::umask(saved_umask);
  ASSERT_EQ(::listen(listener.get(), 1), 0);

  struct stat st;
  ASSERT_EQ(::stat(directory_of(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(connect_as_another_user(open_dir + "/socket"), 0) << "the other user cannot connect anywhere";
  EXPECT_EQ(connect_as_another_user(name), EACCES);

  // The owner still gets through, and is the one connection served.
  auto connection = IpcSender::connect(name);
  ASSERT_TRUE(connection) << connection.error().display();
  auto [a, b] = *channel();
  ASSERT_TRUE(send_handshake(*connection, Handshake{std::move(a), std::move(b)}));
  auto accepted = std::move(server).accept();
  ASSERT_TRUE(accepted) << accepted.error().display();
  EXPECT_EQ(accepted->first_message.payload.size(), 16u);
}

TEST_F(OneShotServerTest, DirectoryIsGoneWhateverHappens) {
  // Dropped without a connection.
  std::string name;
  {
    auto [server, created_name] = create();
    name = created_name;
    IpcOneShotServer moved = std::move(server);  // a moved-from server removes nothing twice
  }
  EXPECT_FALSE(exists(directory_of(name)));

  // A client that connects and closes without sending.
  {
    auto [server, created_name] = create();
    name = created_name;
    { auto connection = IpcSender::connect(name); }
    auto accepted = std::move(server).accept();
    ASSERT_FALSE(accepted);
    EXPECT_EQ(accepted.error().display(), "io error: All senders for this socket closed");
    EXPECT_FALSE(exists(directory_of(name)));
  }

  // A failed accept: no descriptor is free for the connection.
  {
    auto [server, created_name] = create();
    name = created_name;
    auto connection = IpcSender::connect(name);
    ASSERT_TRUE(connection);
    int lowest_free = ::dup(0);
    ::close(lowest_free);
    rlimit saved;
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    auto accepted = std::move(server).accept();
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_FALSE(accepted);
    EXPECT_EQ(accepted.error().display(), "io error: Too many open files (os error 24)");
    EXPECT_FALSE(exists(directory_of(name)));
  }
}

TEST_F(OneShotServerTest, GivesUpWhenThePipeClosesUnlessAConnectionWaits) {
  for (bool connected : {false, true}) {
    SCOPED_TRACE(connected ? "connected before the pipe closed" : "nothing connected");
    auto [server, name] = create();
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    server.give_up_when_closed(UniqueFd(ends[0]));
    std::optional<IpcSender> connection;
    if (connected) {
      connection = *IpcSender::connect(name);
      auto [a, b] = *channel();
      ASSERT_TRUE(send_handshake(*connection, Handshake{std::move(a), std::move(b)}));
    }
    ::close(ends[1]);
    auto accepted = std::move(server).accept();
    if (connected) {
      ASSERT_TRUE(accepted) << accepted.error().display();
      EXPECT_EQ(accepted->first_message.payload.size(), 16u);
    } else {
      ASSERT_FALSE(accepted);
      EXPECT_EQ(accepted.error().display(), "io error: nothing connected before the wait was given up");
    }
    EXPECT_FALSE(exists(directory_of(name)));
  }
}

TEST_F(OneShotServerTest, RelativeTmpdirStillGivesAnAbsoluteName) {
  std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  std::filesystem::create_directory("rel");
  tmpdir_.set("rel");
  auto created = IpcOneShotServer::create();
  tmpdir_.set("");
  auto in_cwd = IpcOneShotServer::create();
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  ASSERT_TRUE(created) << created.error().display();
  EXPECT_TRUE(std::regex_match(created->name, std::regex(dir_.path() + "/rel/\\.tmp[A-Za-z0-9]{6}/socket")));
  ASSERT_TRUE(in_cwd) << in_cwd.error().display();
  EXPECT_TRUE(std::regex_match(in_cwd->name, std::regex(dir_.path() + "/\\.tmp[A-Za-z0-9]{6}/socket")));
}

TEST_F(OneShotServerTest, CreationFailuresAreErrorsAndLeaveNoDirectory) {
  struct Case {
    const char* what;
    std::string tmpdir;
    std::string error_pattern;
  };
  const std::string long_dir = dir_.sub(std::string(100 - dir_.path().size(), 'l'));
  const std::string bad_dir = dir_.sub("\xFF");
  std::filesystem::create_directory(long_dir);
  std::filesystem::create_directory(bad_dir);
  const Case cases[] = {
      {"missing", dir_.sub("missing"),
       "No such file or directory \\(os error 2\\) at path \"" + dir_.path() + "/missing/\\.tmp[A-Za-z0-9]{6}\""},
      {"too long", long_dir,
       "socket path is too long for a Unix socket address \\(119 bytes, at most 107\\): \".*/socket\""},
      {"not UTF-8", bad_dir, "the one-shot server's socket path is not valid UTF-8: \".*\\\\xFF/\\.tmp.*/socket\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tmpdir_.set(c.tmpdir);
    auto created = IpcOneShotServer::create();
    ASSERT_FALSE(created);
    EXPECT_TRUE(std::regex_match(created.error().display(), std::regex(c.error_pattern)))
        << created.error().display();
    if (std::filesystem::exists(c.tmpdir)) {
      EXPECT_TRUE(std::filesystem::is_empty(c.tmpdir));
    }
  }
}

}  // namespace
}  // namespace kiv::ipc
