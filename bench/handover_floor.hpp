// What the floor client and the instant peer share: the protocol's bytes
// written out by hand, and the few socket steps both take. Nothing here
// allocates or starts a thread: these two programs are the cheapest the
// protocol can be, and kiv is timed against them.
#pragma once

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/socket_address.hpp"
#include "base/unique_fd.hpp"

namespace kiv::bench {

/// A message on a channel: its payload's length as a u64, then the payload
/// (integers little-endian). The handshake's payload is the indices 0 and 1
/// of its two descriptors, requests then responses; the Exit response's is
/// the variant index 3 as a u32 and the status as an i32.
inline constexpr std::size_t kHeaderBytes = 8;
inline constexpr std::size_t kHandshakeBytes = kHeaderBytes + 16;
inline constexpr std::size_t kExitBytes = kHeaderBytes + 8;
inline constexpr std::uint32_t kExitVariant = 3;

inline void put_le(unsigned char* at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint64_t get_le(const unsigned char* at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t{at[i]} << (8 * i);
  return value;
}

/// The handshake as one message, laid out for sendmsg and recvmsg: its
/// bytes, and room for its two descriptors in one SCM_RIGHTS header.
struct HandshakeMessage {
  HandshakeMessage() {
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  HandshakeMessage(const HandshakeMessage&) = delete;
  HandshakeMessage& operator=(const HandshakeMessage&) = delete;

  unsigned char bytes[kHandshakeBytes] = {};
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
  iovec part{bytes, sizeof bytes};
  msghdr message{};
};

/// Ends the program with status 1 and one line: `what` and the OS error.
[[noreturn]] inline void die(const char* program, const char* what, int error = errno) {
  std::fprintf(stderr, "%s: %s: %s\n", program, what, std::strerror(error));
  std::exit(1);
}

/// Which waits on a socket give_up_after_two_seconds limits.
enum class Waits { Receives, ReceivesAndSends };

/// Every receive on `fd` (and every send, with ReceivesAndSends) gives up
/// after two seconds, so that a peer that is gone fails the run instead of
/// hanging it.
inline void give_up_after_two_seconds(int fd, Waits waits) {
  const timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (waits == Waits::ReceivesAndSends) ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

/// A close-on-exec Unix socket of `type` connected to the socket file
/// `path`; empty on a failure, with errno set.
inline UniqueFd connect_unix(int type, std::string_view path) {
  auto address = make_unix_socket_address(path);
  if (!address) {
    errno = ENAMETOOLONG;
    return {};
  }
  UniqueFd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!socket) return {};
  if (::connect(socket.get(), address->get(), address->length) != 0) {
    const int error = errno;
    socket.reset();
    errno = error;
  }
  return socket;
}

}  // namespace kiv::bench
