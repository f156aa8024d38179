// A peer written against the raw socket calls, following the framing rules
// independently of the library, plus byte helpers for the tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_fd.hpp"

namespace kiv::ipc::testing {

/// Bytes from hex digits; blanks are ignored ("02 00 00 00").
inline std::string bytes(std::string_view hex) {
  std::string out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

/// Lower-case hex digits of `data`, no blanks.
inline std::string hex(std::string_view data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (char byte : data) {
    const auto c = static_cast<unsigned char>(byte);
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/// A little-endian u64 as 8 bytes.
inline std::string le64(std::uint64_t v) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

/// `n` bytes with no short period, so that a part out of place shows.
inline std::string pattern(std::size_t n) {
  std::string out(n, '\0');
  std::uint32_t x = 12345;
  for (auto& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return out;
}

/// A connected sequenced-packet pair, close-on-exec.
inline std::pair<UniqueFd, UniqueFd> seqpacket_pair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

struct RawPacket {
  std::string data;  // everything, header included
  std::vector<UniqueFd> fds;
  bool truncated = false;
};

/// One recvmsg of at most `max` bytes, waiting at most 10 s (then data is
/// empty and no descriptor came).
inline RawPacket read_packet(int fd, std::size_t max) {
  RawPacket packet;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 10000) != 1) return packet;
  packet.data.resize(max);
  iovec iov{packet.data.data(), max};
  alignas(cmsghdr) char control[CMSG_SPACE(64 * sizeof(int))];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
  packet.data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  packet.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int received;
      std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
      packet.fds.emplace_back(received);
    }
  }
  return packet;
}

/// One sendmsg of `data` with `fds` as one SCM_RIGHTS block; true on success.
inline bool write_packet(int fd, std::string_view data, const std::vector<int>& fds = {}) {
  iovec iov{const_cast<char*>(data.data()), data.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(256 * sizeof(int))] = {};  // room for more than a receiver takes
  if (!fds.empty()) {
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
    auto* c = reinterpret_cast<cmsghdr*>(control);  // the first header starts the buffer
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds.data(), fds.size() * sizeof(int));
  }
  return ::sendmsg(fd, &msg, MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

/// Whether every copy of the other end of socket `fd` is closed, so that a
/// receive sees the end at once; waits up to `wait_ms` for that.
inline bool peer_closed(int fd, int wait_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) != 1) return false;
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

/// Whether nothing is waiting to be read on `fd`.
inline bool nothing_queued(int fd) {
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
}

inline bool is_close_on_exec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

}  // namespace kiv::ipc::testing
