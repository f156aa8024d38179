// Channels to the editor: connected pairs of sequenced-packet Unix sockets,
// and messages on them (a byte payload with a list of descriptors).
//
// A message goes out as one packet: the payload's total length as a u64
// (little-endian), then the payload, with its descriptors as one SCM_RIGHTS
// block. A payload too large for one packet goes out in parts: the first
// packet carries the total, the first part and the descriptors plus the
// receiving end of a channel made for that one message, always last; the
// other parts follow on that channel as plain packets. Packet sizes come from
// the send buffer of a fresh socket pair, measured once per process, so that
// a peer measuring the same way never receives a packet larger than its own
// receive buffer.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "base/socket_address.hpp"
#include "base/unique_fd.hpp"
#include "ipc/byte_buffer.hpp"

namespace kiv::ipc {

/// The failure of a receive whose channel the other side has closed.
inline constexpr std::string_view CHANNEL_CLOSED_TEXT = "All senders for this socket closed";

/// The most descriptors one message carries (a receiver has room for no more).
inline constexpr std::size_t MAX_DESCRIPTORS = 64;

/// Payloads larger than this travel as more than one packet (default
/// system settings give 212952).
struct TransportSizes {
  std::size_t send_buffer;     // SO_SNDBUF of a fresh socket pair
  std::size_t fragment;        // payload bytes in one follow-up packet
  std::size_t first_fragment;  // payload bytes in the first packet
};

/// The sizes for a send buffer figure of `send_buffer` bytes.
TransportSizes transport_sizes_for(std::size_t send_buffer);

/// The process's sizes: measured on the first call, the same on every call
/// after. Fails with the OS error of the measurement (and is tried again on
/// the next call).
[[nodiscard]] Result<TransportSizes> transport_sizes();

/// Takes the send buffer that transport_sizes() measures from
/// `fresh_socket`, a Unix socket this process has just created (so it has
/// the system's default), sparing it a socket pair made only to be measured.
/// Does nothing once the figure is known.
[[nodiscard]] Status measure_transport_sizes_on(int fresh_socket);

/// One received message.
struct IpcMessage {
  ByteBuffer payload;
  /// The socket descriptors, in arrival order, without a continuation end;
  /// channel indices in the payload count in this list.
  std::vector<UniqueFd> channels;
  /// Descriptors that are not sockets (a peer's library passes shared memory
  /// so). Nothing in kiv takes them; they close with the message.
  std::vector<UniqueFd> other_descriptors;
};

/// The sending end of a channel (also what connecting to a one-shot server gives).
class IpcSender {
 public:
  explicit IpcSender(UniqueFd fd) : fd_(std::move(fd)) {}

  /// Connects to the one-shot server named `name` (its socket path). Fails
  /// with the OS error of connect (e.g. ENOENT, ECONNREFUSED), or when the
  /// path does not fit a socket address.
  [[nodiscard]] static Result<IpcSender> connect(const std::string& name);

  /// Sends one message. The descriptors are borrowed: the peer gets copies,
  /// the caller keeps its own. Fails with the OS error of the send ("Broken
  /// pipe (os error 32)" when the peer is gone), or when more than
  /// MAX_DESCRIPTORS would travel.
  [[nodiscard]] Status send(std::string_view payload, std::span<const int> descriptors = {}) const;

  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

/// The receiving end of a channel (also the connection a one-shot server takes).
class IpcReceiver {
 public:
  explicit IpcReceiver(UniqueFd fd) : fd_(std::move(fd)) {}

  /// Waits without a time limit for the next message and returns it whole,
  /// its descriptors close-on-exec. The payload's storage grows with the
  /// bytes that actually arrive (the length a message announces is only the
  /// sender's claim), so a message of N bytes costs about N bytes; it is
  /// the storage the thread kept from its last message (see ByteBuffer),
  /// so a run of messages maps no new memory. Fails
  /// with CHANNEL_CLOSED_TEXT when the other side has closed (also in the
  /// middle of a message), with the OS error of the receive or of the
  /// storage ("Cannot allocate memory (os error 12)"), or on a packet that
  /// breaks the framing. Every descriptor that arrived is closed on failure.
  [[nodiscard]] Result<IpcMessage> receive() const;

  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

/// The two ends of a channel.
struct Channel {
  IpcSender sender;
  IpcReceiver receiver;
};

/// A new channel: a sequenced-packet socket pair, close-on-exec. Fails with
/// the OS error of socketpair.
[[nodiscard]] Result<Channel> channel();

using kiv::UnixSocketAddress;

/// The address of the socket file `path`. A path with a NUL byte, or longer
/// than 107 bytes, cannot be an address and fails saying so (never cut short).
[[nodiscard]] Result<UnixSocketAddress> unix_socket_address(std::string_view path);

}  // namespace kiv::ipc
