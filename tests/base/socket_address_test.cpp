#include "base/socket_address.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>

#include "base/unique_fd.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

// A socket of each type bound at a path in the test's directory (and
// listening, for the connection-oriented ones) is reached as that type.
TEST(ConnectUnixSocket, ReachesAListenerOfEachTypeWithASocketOfThatType) {
  testing::ScopedTempDir dir;
  for (int type : {SOCK_STREAM, SOCK_SEQPACKET, SOCK_DGRAM}) {
    SCOPED_TRACE(type);
    const std::string path = dir.sub("socket-" + std::to_string(type));
    auto address = make_unix_socket_address(path);
    ASSERT_TRUE(address);
    UniqueFd listener(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(listener.get(), address->get(), address->length), 0);
    if (type != SOCK_DGRAM) {
      ASSERT_EQ(::listen(listener.get(), 1), 0);
    }

    auto connected = connect_unix_socket(*address, type);
    ASSERT_TRUE(connected) << connected.error().display();
    int actual_type = 0;
    socklen_t length = sizeof actual_type;
    ASSERT_EQ(::getsockopt(connected->get(), SOL_SOCKET, SO_TYPE, &actual_type, &length), 0);
    EXPECT_EQ(actual_type, type);
    EXPECT_EQ(::fcntl(connected->get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    sockaddr_un peer{};
    socklen_t peer_length = sizeof peer;
    ASSERT_EQ(::getpeername(connected->get(), reinterpret_cast<sockaddr*>(&peer), &peer_length), 0);
    EXPECT_EQ(std::string(peer.sun_path), path);
  }
}

// The OS error of the connect, for the caller to word: nothing at the path,
// or a file there that no socket listens on.
TEST(ConnectUnixSocket, FailsWithTheOsErrorOfTheConnect) {
  testing::ScopedTempDir dir;
  testing::write_file(dir.sub("plain"), "");
  struct Case {
    const char* name;
    int error;
  };
  for (const Case c : {Case{"missing", ENOENT}, Case{"plain", ECONNREFUSED}}) {
    SCOPED_TRACE(c.name);
    auto address = make_unix_socket_address(dir.sub(c.name));
    ASSERT_TRUE(address);
    auto connected = connect_unix_socket(*address, SOCK_STREAM);
    ASSERT_FALSE(connected);
    EXPECT_EQ(connected.error().os_code(), c.error);
    EXPECT_EQ(connected.error().display(), Error::os(c.error).display());
  }
}

}  // namespace
}  // namespace kiv
