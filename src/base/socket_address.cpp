#include "base/socket_address.hpp"

#include <cstddef>
#include <cstring>

namespace kiv {

std::expected<UnixSocketAddress, UnixAddressProblem> make_unix_socket_address(std::string_view path) {
  UnixSocketAddress result{};
  if (path.find('\0') != std::string_view::npos) return std::unexpected(UnixAddressProblem::InteriorNul);
  if (path.size() >= sizeof result.address.sun_path) return std::unexpected(UnixAddressProblem::TooLong);
  result.address.sun_family = AF_UNIX;
  std::memcpy(result.address.sun_path, path.data(), path.size());
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return result;
}

}  // namespace kiv
