// The address of a Unix socket file.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <expected>
#include <string_view>

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

}  // namespace kiv
