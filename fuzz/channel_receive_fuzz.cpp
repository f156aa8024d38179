// The receiving end of a channel against a hostile sender on a real socket
// pair. The input is a little program of packets: messages with honest or
// lying length headers (or none at all), socket and pipe descriptors, a
// continuation channel (last or not), parts sent on it, continuations closed
// early, packets with more descriptors than a receiver takes or larger than
// any sender may send. Everything is sent before anything is received and
// every sending end is closed, so a receive never waits. What a received
// message carries must be sorted (sockets apart from other descriptors), and
// no descriptor may be left open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "ipc/channel.hpp"

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint64_t u64() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= std::uint64_t{byte()} << (8 * i);
    return value;
  }
  // `n` bytes: what the input still has, then a filler.
  std::string bytes(std::size_t n) {
    std::string out;
    out.reserve(n);
    while (out.size() < n) out.push_back(empty() ? static_cast<char>(out.size() * 131) : static_cast<char>(byte()));
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

std::size_t open_descriptor_count() {
  std::size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  FUZZ_CHECK(dir != nullptr);
  while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
  ::closedir(dir);
  return count;
}

bool is_socket(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// One packet on `fd` without waiting; a full queue drops it.
void send_packet(int fd, std::string_view data, const std::vector<int>& fds) {
  iovec iov{const_cast<char*>(data.data()), data.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  std::vector<char> control(CMSG_SPACE(fds.size() * sizeof(int)));
  if (!fds.empty()) {
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* block = CMSG_FIRSTHDR(&msg);
    block->cmsg_level = SOL_SOCKET;
    block->cmsg_type = SCM_RIGHTS;
    block->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(block), fds.data(), fds.size() * sizeof(int));
  }
  (void)::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
}

std::string le64(std::uint64_t value) {
  std::string out(8, '\0');
  for (std::size_t i = 0; i < 8; ++i) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

// The sender's ends and everything it keeps, all closed before receiving.
struct Sender {
  int socket = -1;
  int continuation = -1;  // where the parts of the last continued message go
  std::vector<int> kept;

  // A descriptor to send: one end of a new socket pair (the other kept) or
  // the read end of a new pipe (the write end kept).
  int new_socket(int* other = nullptr) {
    int fds[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0);
    kept.push_back(fds[0]);
    kept.push_back(fds[1]);
    if (other) *other = fds[0];
    return fds[1];
  }
  int new_pipe() {
    int fds[2];
    FUZZ_CHECK(::pipe2(fds, O_CLOEXEC) == 0);
    kept.push_back(fds[0]);
    kept.push_back(fds[1]);
    return fds[0];
  }
  void close_all() {
    for (int fd : kept) ::close(fd);
    kept.clear();
    ::close(socket);
  }
};

void message_packet(Sender& sender, Input& in) {
  const std::uint8_t flags = in.byte();
  const std::size_t body_size = std::size_t{in.byte()} * ((flags & 0x80) ? 97 : 1);
  const std::string body = in.bytes(body_size);
  std::string packet;
  switch (flags & 3) {
    case 0:  // honest and complete
      packet = le64(body.size()) + body;
      break;
    case 1: {  // more to come
      const std::size_t low = in.byte();
      const std::size_t more = low | std::size_t{in.byte()} << 8;
      packet = le64(body.size() + more) + body;
      break;
    }
    case 2:  // any claim at all
      packet = le64(in.u64()) + body;
      break;
    default:  // no header: the body alone, perhaps shorter than one
      packet = body;
      break;
  }
  std::vector<int> fds;
  for (int i = 0; i < ((flags >> 2) & 3); ++i) fds.push_back(sender.new_socket());
  if (flags & 0x10) fds.push_back(sender.new_pipe());
  if (flags & 0x20) fds.push_back(sender.new_socket(&sender.continuation));
  if (flags & 0x40) fds.push_back(sender.new_pipe());
  send_packet(sender.socket, packet, fds);
}

void continuation_part(Sender& sender, Input& in) {
  const std::size_t high = in.byte();
  const std::size_t size = high * 37 + in.byte() % 37;
  if (sender.continuation >= 0) send_packet(sender.continuation, in.bytes(size), {});
}

// More descriptors than a receiver has room for.
void crowded_packet(Sender& sender, Input& in) {
  std::vector<int> fds;
  const int count = static_cast<int>(kiv::ipc::MAX_DESCRIPTORS) + 1 + in.byte() % 8;
  for (int i = 0; i < count; ++i) fds.push_back(i % 2 ? sender.new_pipe() : sender.new_socket());
  send_packet(sender.socket, le64(1) + "x", fds);
}

// A packet larger than the largest a sender may send: possible only with a
// send buffer raised beyond the system's default.
void oversized_packet(Sender& sender, Input& in, std::size_t first_fragment) {
  const int size = 2 * static_cast<int>(first_fragment) + 4096;
  (void)::setsockopt(sender.socket, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);
  const std::size_t body = first_fragment + 1 + in.byte();
  send_packet(sender.socket, le64(body) + std::string(body, 'o'), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto sizes = kiv::ipc::transport_sizes();
  FUZZ_CHECK(sizes.has_value());
  const std::size_t before = open_descriptor_count();
  {
    Input in(data, size);
    auto pair = kiv::ipc::channel();
    FUZZ_CHECK(pair.has_value());
    Sender sender;
    sender.socket = ::dup(pair->sender.fd());
    pair->sender = kiv::ipc::IpcSender(kiv::UniqueFd());
    const kiv::ipc::IpcReceiver receiver = std::move(pair->receiver);

    for (int op = 0; op < 24 && !in.empty(); ++op) {
      switch (in.byte() % 8) {
        case 0:
        case 1:
        case 2:
          message_packet(sender, in);
          break;
        case 3:
        case 4:
          continuation_part(sender, in);
          break;
        case 5:
          if (sender.continuation >= 0) {
            // Closed early: the parts still queued stay readable.
            for (int& fd : sender.kept) {
              if (fd == sender.continuation) {
                ::close(fd);
                fd = ::dup(2);
              }
            }
            sender.continuation = -1;
          }
          break;
        case 6:
          crowded_packet(sender, in);
          break;
        default:
          oversized_packet(sender, in, sizes->first_fragment);
          break;
      }
    }
    sender.close_all();

    for (int i = 0; i < 32; ++i) {
      auto message = receiver.receive();
      if (!message) {
        FUZZ_CHECK(!message.error().display().empty());
        break;
      }
      for (const kiv::UniqueFd& fd : message->channels) FUZZ_CHECK(is_socket(fd.get()));
      for (const kiv::UniqueFd& fd : message->other_descriptors) FUZZ_CHECK(fd && !is_socket(fd.get()));
    }
  }
  FUZZ_CHECK(open_descriptor_count() == before);
  return 0;
}
