// Unix socket files: their address, and connecting to one.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <expected>
#include <string_view>

#include "base/error.hpp"
#include "base/unique_fd.hpp"

namespace kiv {

/// A Unix socket address with its length, ready for bind and connect.
struct UnixSocketAddress {
  sockaddr_un address;
  socklen_t length;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

/// Why a path cannot be a Unix socket address; each caller words it.
enum class UnixAddressProblem {
  InteriorNul,  // the path holds a NUL byte
  TooLong,      // 108 bytes or more: it would not fit with its terminator
};

/// The address of the socket file `path`, never cut short.
std::expected<UnixSocketAddress, UnixAddressProblem> make_unix_socket_address(std::string_view path);

/// A new close-on-exec Unix socket of `type` (SOCK_STREAM, SOCK_SEQPACKET or
/// SOCK_DGRAM). Fails with the OS error.
[[nodiscard]] Result<UniqueFd> unix_socket(int type);

/// Connects the socket `fd` to `address`, EINTR retried. Fails with the OS
/// error (ENOENT when no socket file is there, ECONNREFUSED when nothing
/// listens on it).
[[nodiscard]] Status connect_socket(int fd, const UnixSocketAddress& address);

/// A new Unix socket of `type` connected to `address`: unix_socket, then
/// connect_socket, failing with the OS error of either.
[[nodiscard]] Result<UniqueFd> connect_unix_socket(const UnixSocketAddress& address, int type);

}  // namespace kiv
