// The rendezvous on which the editor calls kiv back: a listening socket in a
// temporary directory of its own, named by its path, serving exactly one
// connection.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "base/unique_fd.hpp"
#include "ipc/channel.hpp"
#include "tempfs/temp.hpp"

namespace kiv::ipc {

/// What the hand-over URL starts with; the server's name follows verbatim.
inline constexpr std::string_view HANDOVER_URL_PREFIX = "kiv-cli://";

/// "kiv-cli://" followed by `server_name` unescaped (so an absolute name
/// gives three slashes in a row).
std::string handover_url(std::string_view server_name);

/// The server name in a hand-over URL, or nothing when `url` is not one.
std::optional<std::string> server_name_from_handover_url(std::string_view url);

/// A listening sequenced-packet socket bound to "socket" in a new temporary
/// directory that only its owner can enter (mode 0700 whatever the umask),
/// so no other user can connect. The socket file and its directory exist
/// until the first message of the one connection has arrived, or until the
/// server is dropped; then both are gone, whatever happened.
class IpcOneShotServer {
 public:
  struct Created;
  struct Accepted;

  /// With RemoveSocket, SIGINT, SIGTERM and SIGHUP remove the socket file
  /// and its directory, from the moment the directory exists until the
  /// server is gone, and then end the process as usual (signals that are
  /// ignored stay ignored); one that comes while create() runs waits until
  /// the removal is armed. For one such server at a time, created while no
  /// other thread takes these signals.
  enum class OnInterrupt { LeaveSocket, RemoveSocket };

  /// A new server, listening (backlog 10), with its name: the socket file's
  /// absolute path. Fails with the temporary directory's error ("{os error}
  /// at path \"...\""), the OS error of socket, bind or listen, when the
  /// path is not UTF-8 or too long for a socket address, or (RemoveSocket)
  /// too long to prepare for the signal handler.
  [[nodiscard]] static Result<Created> create(OnInterrupt on_interrupt = OnInterrupt::LeaveSocket);

  IpcOneShotServer(IpcOneShotServer&& other) noexcept = default;
  IpcOneShotServer& operator=(IpcOneShotServer&& other) noexcept;
  ~IpcOneShotServer();

  /// Takes the one connection and its first message, waiting without a time
  /// limit for both, then closes the listener and removes the directory (also
  /// on failure). Fails with "io error: " and the failure of accept, of the
  /// linger option or of the receive ("All senders for this socket closed"
  /// when the peer closes without sending), or with GAVE_UP_TEXT.
  [[nodiscard]] Result<Accepted> accept() &&;

  /// From now on accept() waits for a connection only until `pipe_end`, the
  /// reading end of a pipe, has no writer left: a connection made before
  /// that is still taken, and without one accept() fails with GAVE_UP_TEXT.
  /// For a peer whose end is known (the writing end closes with it).
  void give_up_when_closed(UniqueFd pipe_end) { give_up_ = std::move(pipe_end); }

  /// The failure of an accept that gave up waiting.
  static constexpr std::string_view GAVE_UP_TEXT = "nothing connected before the wait was given up";

  /// The socket file's path; empty once the server is gone.
  const std::string& name() const { return dir_.file(); }

 private:
  // Returns once a connection waits, or fails with GAVE_UP_TEXT once the
  // give-up pipe has no writer left with no connection waiting.
  [[nodiscard]] Status wait_for_connection() const;

  IpcOneShotServer(PrivateFileDir dir, UniqueFd listener) : dir_(std::move(dir)), listener_(std::move(listener)) {}
  void close_and_remove();

  PrivateFileDir dir_;  // the socket file's
  UniqueFd listener_;
  UniqueFd give_up_;
};

/// A new server and its name, the socket file's absolute path.
struct IpcOneShotServer::Created {
  IpcOneShotServer server;
  std::string name;
};

/// The one connection a server took, and the first message that came on it.
struct IpcOneShotServer::Accepted {
  IpcReceiver connection;
  IpcMessage first_message;
};

}  // namespace kiv::ipc
