#include "base/socket_address.hpp"

#include <cstddef>
#include <cstring>

#include "base/eintr.hpp"

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

Result<UniqueFd> unix_socket(int type) {
  UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd) return fail_last_os();
  return fd;
}

Status connect_socket(int fd, const UnixSocketAddress& address) {
  if (retry_on_eintr([&] { return ::connect(fd, address.get(), address.length); }) != 0) return fail_last_os();
  return {};
}

Result<UniqueFd> connect_unix_socket(const UnixSocketAddress& address, int type) {
  KIV_TRY_ASSIGN(UniqueFd fd, unix_socket(type));
  KIV_TRY(connect_socket(fd.get(), address));
  return fd;
}

}  // namespace kiv
