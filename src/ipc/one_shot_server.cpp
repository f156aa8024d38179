#include "ipc/one_shot_server.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/eintr.hpp"
#include "base/text.hpp"

namespace kiv::ipc {
namespace {

constexpr int BACKLOG = 10;
constexpr int LINGER_SECONDS = 30;
constexpr std::string_view IO_ERROR = "io error";

}  // namespace

std::string handover_url(std::string_view server_name) {
  std::string url(HANDOVER_URL_PREFIX);
  url += server_name;
  return url;
}

std::optional<std::string> server_name_from_handover_url(std::string_view url) {
  if (!url.starts_with(HANDOVER_URL_PREFIX)) return std::nullopt;
  return std::string(url.substr(HANDOVER_URL_PREFIX.size()));
}

Result<IpcOneShotServer::Created> IpcOneShotServer::create(OnInterrupt on_interrupt) {
  KIV_TRY_ASSIGN(UniqueFd listener, unix_socket(SOCK_SEQPACKET));
  KIV_TRY(measure_transport_sizes_on(listener.get()));

  // Only kiv's own user (the editor's too) may reach the socket: whoever
  // connects first receives the request and speaks for the editor. Every
  // failure below removes what was made.
  KIV_TRY_ASSIGN(PrivateFileDir dir,
                 PrivateFileDir::create("socket", on_interrupt == OnInterrupt::RemoveSocket ? OnSignals::Remove
                                                                                              : OnSignals::Leave));
  std::string name = dir.file();
  // The name becomes part of a text URL, and a path that does not fit the
  // address would be bound cut short, outside the directory.
  if (!is_valid_utf8(name)) return fail("the one-shot server's socket path is not valid UTF-8: " + debug_quoted(name));
  KIV_TRY_ASSIGN(UnixSocketAddress address, unix_socket_address(name));

  IpcOneShotServer server(std::move(dir), std::move(listener));
  if (::bind(server.listener_.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
    return fail_last_os();
  }
  if (::listen(server.listener_.get(), BACKLOG) != 0) return fail_last_os();
  return Created{std::move(server), std::move(name)};
}

IpcOneShotServer& IpcOneShotServer::operator=(IpcOneShotServer&& other) noexcept {
  if (this != &other) {
    close_and_remove();
    dir_ = std::move(other.dir_);
    listener_ = std::move(other.listener_);
    give_up_ = std::move(other.give_up_);
  }
  return *this;
}

IpcOneShotServer::~IpcOneShotServer() { close_and_remove(); }

void IpcOneShotServer::close_and_remove() {
  listener_.reset();
  give_up_.reset();
  dir_.remove_now();
}

Status IpcOneShotServer::wait_for_connection() const {
  if (!give_up_) return {};
  pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {give_up_.get(), POLLIN, 0}};
  if (retry_on_eintr([&] { return ::poll(fds, 2, -1); }) < 0) return fail_last_os();
  // A connection that waits is taken, even when the writer has gone too.
  if (fds[0].revents == 0) return fail(std::string(GAVE_UP_TEXT));
  return {};
}

Result<IpcOneShotServer::Accepted> IpcOneShotServer::accept() && {
  // Whatever happens below, the listener is closed and the directory removed
  // when `self` goes.
  IpcOneShotServer self(std::move(*this));
  KIV_TRY(with_context(self.wait_for_connection(), IO_ERROR));
  int fd = retry_on_eintr([&] { return ::accept4(self.listener_.get(), nullptr, nullptr, SOCK_CLOEXEC); });
  if (fd < 0) return with_context(fail_last_os(), IO_ERROR);
  IpcReceiver connection{UniqueFd(fd)};

  const linger option{1, LINGER_SECONDS};
  if (::setsockopt(connection.fd(), SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0) {
    return with_context(fail_last_os(), IO_ERROR);
  }
  KIV_TRY_ASSIGN(IpcMessage first, with_context(connection.receive(), IO_ERROR));
  return Accepted{std::move(connection), std::move(first)};
}

}  // namespace kiv::ipc
