#include "ipc/channel.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/eintr.hpp"
#include "base/text.hpp"

namespace kiv::ipc {
namespace {

// The kernel refuses a sequenced-packet or datagram packet longer than the
// send buffer less this much.
constexpr std::size_t RESERVED_SIZE = 32;
constexpr std::size_t HEADER_SIZE = sizeof(std::uint64_t);
// A packet refused with ENOBUFS is retried smaller only above this size.
constexpr std::size_t MIN_DOWNSIZED_PACKET = 2000;
// How far the storage of a continued message may run ahead of the bytes
// received: the total in its header is only the peer's claim.
constexpr std::size_t GROWTH_STEP = std::size_t{8} << 20;

constexpr std::size_t CONTROL_SIZE = CMSG_SPACE(MAX_DESCRIPTORS * sizeof(int));

// A connected pair of sequenced-packet sockets: one end kept, one to pass on.
struct SocketPair {
  UniqueFd kept;
  UniqueFd passed;
};

Result<SocketPair> socket_pair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return fail_last_os();
  return SocketPair{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// One sendmsg: an optional length header, `part`, and the descriptors as one
// SCM_RIGHTS block. Returns false with errno set on failure. MSG_NOSIGNAL
// makes a closed peer an EPIPE even where SIGPIPE is not ignored.
bool send_packet(int fd, const std::uint64_t* header, std::string_view part, std::span<const int> descriptors) {
  iovec iov[2];
  int count = 0;
  if (header != nullptr) iov[count++] = {const_cast<std::uint64_t*>(header), HEADER_SIZE};
  iov[count++] = {const_cast<char*>(part.data()), part.size()};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = static_cast<std::size_t>(count);
  alignas(cmsghdr) char control[CONTROL_SIZE];
  if (!descriptors.empty()) {
    std::memset(control, 0, sizeof control);
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(descriptors.size() * sizeof(int));
    // The control buffer holds at least one header, so it starts the first.
    auto* header_block = reinterpret_cast<cmsghdr*>(control);
    header_block->cmsg_level = SOL_SOCKET;
    header_block->cmsg_type = SCM_RIGHTS;
    header_block->cmsg_len = CMSG_LEN(descriptors.size() * sizeof(int));
    std::memcpy(CMSG_DATA(header_block), descriptors.data(), descriptors.size() * sizeof(int));
  }
  ssize_t n = retry_on_eintr([&] { return ::sendmsg(fd, &msg, MSG_NOSIGNAL); });
  if (n > 0) return true;
  if (n == 0) errno = EIO;  // cannot happen: a packet always has its header
  return false;
}

// After a packet of `packet_bytes` payload bytes was refused with `err`:
// whether to retry smaller, lowering `size_figure` if so. Only ENOBUFS on a
// packet above MIN_DOWNSIZED_PACKET is retried: the figure is halved, or set
// to half the packet when halving alone would not make the packet smaller.
bool downsize(int err, std::size_t packet_bytes, std::size_t& size_figure) {
  if (err != ENOBUFS || packet_bytes <= MIN_DOWNSIZED_PACKET) return false;
  size_figure /= 2;
  if (size_figure >= packet_bytes) size_figure = packet_bytes / 2;
  return true;
}

// Takes ownership of every descriptor in the control data (all SCM_RIGHTS
// blocks, not only the first, so that none can leak).
std::vector<UniqueFd> take_descriptors(msghdr& msg) {
  std::vector<UniqueFd> fds;
  if (msg.msg_controllen == 0) return fds;
  for (cmsghdr* block = CMSG_FIRSTHDR(&msg); block != nullptr; block = CMSG_NXTHDR(&msg, block)) {
    if (block->cmsg_level != SOL_SOCKET || block->cmsg_type != SCM_RIGHTS) continue;
    std::size_t n = (block->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    const unsigned char* data = CMSG_DATA(block);
    for (std::size_t i = 0; i < n; ++i) {
      int fd;
      std::memcpy(&fd, data + i * sizeof(int), sizeof fd);
      fds.emplace_back(fd);
    }
  }
  return fds;
}

bool is_socket(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

Result<ssize_t> receive_packet(int fd, msghdr& msg, int flags) {
  ssize_t n = retry_on_eintr([&] { return ::recvmsg(fd, &msg, flags); });
  if (n < 0) return fail_last_os();
  return n;
}

// Reads the parts after the first of a continued message from `continuation`
// until `payload` holds `total` bytes, each straight into its place.
Status receive_rest(int continuation, std::uint64_t total, std::size_t fragment, ByteBuffer& payload) {
  while (payload.size() < total) {
    const std::size_t old_size = payload.size();
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(fragment, total - old_size));
    if (payload.capacity() - old_size < want) {
      KIV_TRY(payload.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total, old_size + want + GROWTH_STEP))));
    }
    iovec iov{payload.data() + old_size, want};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    KIV_TRY_ASSIGN(ssize_t n, receive_packet(continuation, msg, MSG_CMSG_CLOEXEC));
    // A part never carries descriptors; any that came anyway are closed.
    std::vector<UniqueFd> stray = take_descriptors(msg);
    if (n == 0) return fail(std::string(CHANNEL_CLOSED_TEXT));
    if (msg.msg_flags & MSG_TRUNC) return fail("a received message part is larger than its message announced");
    payload.set_size(old_size + static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace

TransportSizes transport_sizes_for(std::size_t send_buffer) {
  return {send_buffer, send_buffer - RESERVED_SIZE, (send_buffer - RESERVED_SIZE - HEADER_SIZE) & ~std::size_t{7}};
}

namespace {

std::atomic<std::size_t> measured_send_buffer{0};

// The send buffer of `fd`, a socket with the system's default, kept for the
// whole process. Threads that measure at the same time all get the same figure.
Result<std::size_t> measure_send_buffer(int fd) {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, &length) != 0) return fail_last_os();
  // The kernel's floor for a send buffer is several kilobytes; anything
  // this small would be a broken system, not a size to work with.
  if (value < 1024) return fail("the socket send buffer is too small: " + std::to_string(value) + " bytes");
  measured_send_buffer.store(static_cast<std::size_t>(value), std::memory_order_relaxed);
  return static_cast<std::size_t>(value);
}

}  // namespace

Result<TransportSizes> transport_sizes() {
  std::size_t send_buffer = measured_send_buffer.load(std::memory_order_relaxed);
  if (send_buffer == 0) {
    KIV_TRY_ASSIGN(auto probe, socket_pair());
    KIV_TRY_ASSIGN(send_buffer, measure_send_buffer(probe.kept.get()));
  }
  return transport_sizes_for(send_buffer);
}

Status measure_transport_sizes_on(int fresh_socket) {
  if (measured_send_buffer.load(std::memory_order_relaxed) != 0) return {};
  KIV_TRY(measure_send_buffer(fresh_socket));
  return {};
}

Result<IpcSender> IpcSender::connect(const std::string& name) {
  KIV_TRY_ASSIGN(UnixSocketAddress address, unix_socket_address(name));
  KIV_TRY_ASSIGN(UniqueFd fd, connect_unix_socket(address, SOCK_SEQPACKET));
  return IpcSender(std::move(fd));
}

Status IpcSender::send(std::string_view payload, std::span<const int> descriptors) const {
  if (descriptors.size() > MAX_DESCRIPTORS) {
    return fail("a message carries at most " + std::to_string(MAX_DESCRIPTORS) + " descriptors, not " +
                std::to_string(descriptors.size()));
  }
  KIV_TRY_ASSIGN(TransportSizes sizes, transport_sizes());
  const std::uint64_t total = payload.size();
  std::size_t size_figure = sizes.send_buffer;

  if (payload.size() <= sizes.first_fragment) {
    if (send_packet(fd_.get(), &total, payload, descriptors)) return {};
    int err = errno;
    // A single packet refused for want of buffers goes out in parts instead.
    if (!downsize(err, payload.size(), size_figure)) return fail_os(err);
  }

  // In parts. The continuation's receiving end travels last, after the
  // message's own descriptors; the peer reads the parts from it.
  if (descriptors.size() + 1 > MAX_DESCRIPTORS) {
    return fail("a message too large for one packet carries at most " + std::to_string(MAX_DESCRIPTORS - 1) +
                " descriptors");
  }
  KIV_TRY_ASSIGN(auto continuation, socket_pair());
  int all[MAX_DESCRIPTORS];
  std::copy(descriptors.begin(), descriptors.end(), all);
  all[descriptors.size()] = continuation.passed.get();
  const std::span<const int> with_continuation(all, descriptors.size() + 1);

  std::size_t sent = 0;
  for (;;) {
    // Smaller than the payload: the figure only ever shrinks from one for
    // which the payload was too large.
    std::size_t first = transport_sizes_for(size_figure).first_fragment;
    if (send_packet(fd_.get(), &total, payload.substr(0, first), with_continuation)) {
      sent = first;
      break;
    }
    int err = errno;
    if (!downsize(err, first, size_figure)) return fail_os(err);
  }
  // The peer holds the receiving end now. Kept open here, it would make the
  // parts wait for ever for a reader should the peer go away mid-message;
  // closed, a send to a peer that has gone fails with EPIPE.
  continuation.passed.reset();
  while (sent < payload.size()) {
    std::size_t chunk = std::min(transport_sizes_for(size_figure).fragment, payload.size() - sent);
    if (send_packet(continuation.kept.get(), nullptr, payload.substr(sent, chunk), {})) {
      sent += chunk;
      continue;
    }
    int err = errno;
    if (!downsize(err, chunk, size_figure)) return fail_os(err);
  }
  return {};
}

Result<IpcMessage> IpcReceiver::receive() const {
  KIV_TRY_ASSIGN(TransportSizes sizes, transport_sizes());
  // The first packet lands where the payload stays. The storage is what the
  // thread kept from its last message, so a run of messages maps nothing.
  IpcMessage message;
  KIV_TRY(message.payload.reserve(sizes.first_fragment));
  std::uint64_t total = 0;
  iovec iov[2] = {{&total, HEADER_SIZE}, {message.payload.data(), sizes.first_fragment}};
  alignas(cmsghdr) char control[CONTROL_SIZE];
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  KIV_TRY_ASSIGN(ssize_t n, receive_packet(fd_.get(), msg, MSG_CMSG_CLOEXEC));
  // Owned from here on, so that every exit below closes them.
  std::vector<UniqueFd> descriptors = take_descriptors(msg);

  if (n == 0) return fail(std::string(CHANNEL_CLOSED_TEXT));
  if (msg.msg_flags & MSG_CTRUNC) {
    return fail("a received message carried more than " + std::to_string(MAX_DESCRIPTORS) + " descriptors");
  }
  if (msg.msg_flags & MSG_TRUNC) return fail("a received packet is larger than the largest a sender may send");
  if (static_cast<std::size_t>(n) < HEADER_SIZE) return fail("a received packet is too short for a message header");
  const std::size_t received = static_cast<std::size_t>(n) - HEADER_SIZE;
  if (total < received) return fail("a received message is longer than its header says");

  for (UniqueFd& fd : descriptors) {
    (is_socket(fd.get()) ? message.channels : message.other_descriptors).push_back(std::move(fd));
  }
  message.payload.set_size(received);
  if (total == received) return message;

  // Continued: the last socket that came is the continuation channel. The
  // storage grows as the rest arrives, never far ahead of it.
  if (message.channels.empty()) return fail("a received message announces more parts but brought no channel for them");
  UniqueFd continuation = std::move(message.channels.back());
  message.channels.pop_back();
  KIV_TRY(receive_rest(continuation.get(), total, sizes.fragment, message.payload));
  return message;
}

Result<Channel> channel() {
  KIV_TRY_ASSIGN(SocketPair pair, socket_pair());
  return Channel{IpcSender(std::move(pair.kept)), IpcReceiver(std::move(pair.passed))};
}

Result<UnixSocketAddress> unix_socket_address(std::string_view path) {
  auto address = make_unix_socket_address(path);
  if (address) return *address;
  if (address.error() == UnixAddressProblem::InteriorNul)
    return fail("socket path contains a NUL byte: " + debug_quoted(path));
  return fail("socket path is too long for a Unix socket address (" + std::to_string(path.size()) + " bytes, at most " +
              std::to_string(sizeof(sockaddr_un::sun_path) - 1) + "): " + debug_quoted(path));
}

}  // namespace kiv::ipc
