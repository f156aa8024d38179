// Messages over real socket pairs, against kiv's own ends and against a peer
// that writes and reads the framing with raw socket calls.
#include "ipc/channel.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "raw_peer.hpp"

namespace kiv::ipc {
namespace {

using testing::le64;
using testing::pattern;
using testing::peer_closed;
using testing::read_packet;
using testing::seqpacket_pair;
using testing::write_packet;

TransportSizes sizes() {
  auto result = transport_sizes();
  EXPECT_TRUE(result) << result.error().display();
  return *result;
}

TEST(TransportSizes, DerivedFromTheSendBufferOfAFreshPair) {
  TransportSizes defaults = transport_sizes_for(212992);
  EXPECT_EQ(defaults.fragment, 212960u);
  EXPECT_EQ(defaults.first_fragment, 212952u);
  EXPECT_EQ(transport_sizes_for(10003).fragment, 9971u);
  EXPECT_EQ(transport_sizes_for(10003).first_fragment, 9960u);  // rounded down to a multiple of 8

  auto [a, b] = seqpacket_pair();
  int value = 0;
  socklen_t length = sizeof value;
  ASSERT_EQ(::getsockopt(a.get(), SOL_SOCKET, SO_SNDBUF, &value, &length), 0);
  EXPECT_EQ(sizes().send_buffer, static_cast<std::size_t>(value));
  EXPECT_EQ(sizes().first_fragment, transport_sizes_for(static_cast<std::size_t>(value)).first_fragment);
}

TEST(IpcChannel, MessagesOfEverySizeArriveWholeWithTheirDescriptors) {
  const TransportSizes s = sizes();
  const std::size_t lengths[] = {0,
                                 1,
                                 s.first_fragment - 1,
                                 s.first_fragment,
                                 s.first_fragment + 1,
                                 s.first_fragment + s.fragment,
                                 s.first_fragment + s.fragment + 1,
                                 5u << 20};
  for (bool reversed : {false, true}) {
    for (std::size_t length : lengths) {
      SCOPED_TRACE(std::to_string(length) + (reversed ? " from the second end" : " from the first end"));
      auto [first, second] = seqpacket_pair();
      IpcSender sender(reversed ? std::move(second) : std::move(first));
      IpcReceiver receiver(reversed ? std::move(first) : std::move(second));
      auto [passed_a, kept_a] = seqpacket_pair();
      auto [passed_b, kept_b] = seqpacket_pair();
      const std::string payload = pattern(length);

      // A large message is only delivered while the other side reads.
      Status sent;
      std::thread writer([&] {
        const int fds[] = {passed_a.get(), passed_b.get()};
        sent = sender.send(payload, fds);
      });
      auto message = receiver.receive();
      writer.join();
      ASSERT_TRUE(sent) << sent.error().display();
      ASSERT_TRUE(message) << message.error().display();
      EXPECT_EQ(message->payload.size(), payload.size());
      EXPECT_TRUE(message->payload == payload);
      ASSERT_EQ(message->channels.size(), 2u);
      EXPECT_TRUE(message->other_descriptors.empty());

      // The sender keeps its copies; the received ones are open, close-on-exec
      // and the same sockets, in order.
      EXPECT_EQ(::fcntl(passed_a.get(), F_GETFD) >= 0, true);
      const int kept[] = {kept_a.get(), kept_b.get()};
      for (std::size_t i = 0; i < 2; ++i) {
        int fd = message->channels[i].get();
        EXPECT_TRUE(testing::is_close_on_exec(fd));
        ASSERT_TRUE(write_packet(fd, std::string(1, static_cast<char>('a' + i))));
        EXPECT_EQ(read_packet(kept[i], 16).data, std::string(1, static_cast<char>('a' + i)));
      }
    }
  }
}

TEST(IpcChannel, SendsTheFramingAPeerLibraryReads) {
  const TransportSizes s = sizes();
  auto [ours, theirs] = seqpacket_pair();
  IpcSender sender(std::move(ours));
  auto [passed, kept] = seqpacket_pair();
  const int fds[] = {passed.get()};

  ASSERT_TRUE(sender.send("hello", fds));
  testing::RawPacket small = read_packet(theirs.get(), 4096);
  EXPECT_EQ(small.data, le64(5) + "hello");
  EXPECT_EQ(small.fds.size(), 1u);

  ASSERT_TRUE(sender.send(""));
  EXPECT_EQ(read_packet(theirs.get(), 4096).data, le64(0));  // never shorter than the header

  // Over one packet: the first carries the total, exactly first_fragment
  // bytes and the continuation end last; the rest follow on that end in
  // packets of `fragment` bytes, and the sender closes it afterwards.
  const std::string payload = pattern(s.first_fragment + s.fragment + 10);
  Status sent;
  std::thread writer([&] { sent = sender.send(payload, fds); });
  testing::RawPacket first = read_packet(theirs.get(), s.send_buffer + 1024);
  ASSERT_EQ(first.data.size(), 8 + s.first_fragment);
  EXPECT_EQ(first.data.substr(0, 8), le64(payload.size()));
  ASSERT_EQ(first.fds.size(), 2u);
  const int continuation = first.fds[1].get();
  std::string rest;
  for (std::size_t expected : {s.fragment, std::size_t{10}}) {
    testing::RawPacket part = read_packet(continuation, s.send_buffer + 1024);
    EXPECT_EQ(part.data.size(), expected);
    EXPECT_TRUE(part.fds.empty());
    rest += part.data;
  }
  writer.join();
  ASSERT_TRUE(sent) << sent.error().display();
  EXPECT_TRUE(first.data.substr(8) + rest == payload);
  EXPECT_TRUE(peer_closed(continuation, 10000));
}

TEST(IpcChannel, ReceivesWhatAPeerLibrarySends) {
  auto [theirs, ours] = seqpacket_pair();
  IpcReceiver receiver(std::move(ours));
  auto [socket_passed, socket_kept] = seqpacket_pair();
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  UniqueFd pipe_read(pipe_fds[0]), pipe_write(pipe_fds[1]);

  // One packet; a descriptor that is not a socket is kept apart from the channels.
  ASSERT_TRUE(write_packet(theirs.get(), le64(3) + "abc", {pipe_read.get(), socket_passed.get()}));
  {
    auto message = receiver.receive();
    ASSERT_TRUE(message) << message.error().display();
    EXPECT_EQ(message->payload, "abc");
    ASSERT_EQ(message->channels.size(), 1u);
    ASSERT_EQ(message->other_descriptors.size(), 1u);
  }
  // Dropped with the message: the copies that arrived are closed.
  socket_passed.reset();
  pipe_read.reset();
  EXPECT_TRUE(peer_closed(socket_kept.get()));
  pollfd p{pipe_write.get(), POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 0), 1);
  EXPECT_TRUE(p.revents & POLLERR);

  // In parts of any size up to the rest; the continuation end is not a channel.
  const std::string payload = pattern(6000);
  auto [continuation_send, continuation_receive] = seqpacket_pair();
  auto [channel_passed, channel_kept] = seqpacket_pair();
  ASSERT_TRUE(write_packet(theirs.get(), le64(6000) + payload.substr(0, 3000),
                           {channel_passed.get(), continuation_receive.get()}));
  continuation_receive.reset();
  ASSERT_TRUE(write_packet(continuation_send.get(), payload.substr(3000, 2000)));
  ASSERT_TRUE(write_packet(continuation_send.get(), payload.substr(5000, 999)));
  ASSERT_TRUE(write_packet(continuation_send.get(), payload.substr(5999, 1)));
  auto message = receiver.receive();
  ASSERT_TRUE(message) << message.error().display();
  EXPECT_TRUE(message->payload == payload);
  ASSERT_EQ(message->channels.size(), 1u);
  EXPECT_TRUE(peer_closed(continuation_send.get()));  // the receiver is done with it

  ASSERT_TRUE(write_packet(theirs.get(), le64(0)));
  message = receiver.receive();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->payload, "");
}

TEST(IpcChannel, ClosedPeersAreReported) {
  {
    auto [sender, receiver] = *channel();
    { IpcSender gone = std::move(sender); }
    auto message = receiver.receive();
    ASSERT_FALSE(message);
    EXPECT_EQ(message.error().display(), "All senders for this socket closed");
  }
  {
    auto [sender, receiver] = *channel();
    { IpcReceiver gone = std::move(receiver); }
    auto sent = sender.send("x");
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().display(), "Broken pipe (os error 32)");
  }
  // A continuation that closes before the total has arrived; a total of 2^60
  // must not be taken as a size to allocate.
  for (std::uint64_t total : {std::uint64_t{10000}, std::uint64_t{1} << 60}) {
    SCOPED_TRACE(total);
    auto [theirs, ours] = seqpacket_pair();
    IpcReceiver receiver(std::move(ours));
    auto [continuation_send, continuation_receive] = seqpacket_pair();
    ASSERT_TRUE(write_packet(theirs.get(), le64(total) + std::string(100, 'x'), {continuation_receive.get()}));
    ASSERT_TRUE(write_packet(continuation_send.get(), std::string(100, 'y')));
    continuation_send.reset();
    continuation_receive.reset();
    auto message = receiver.receive();
    ASSERT_FALSE(message);
    EXPECT_EQ(message.error().display(), "All senders for this socket closed");
  }
  // A receiver that goes away after the first part of a long message: the
  // sender, in a child, fails instead of waiting for ever on the parts.
  {
    auto [sender, receiver] = *channel();
    const pid_t pid = ::fork();
    if (pid == 0) {
      auto sent = sender.send(pattern(std::size_t{4} << 20));
      // Broken pipe, or connection reset when parts were left unread.
      const auto code = sent ? std::nullopt : sent.error().os_code();
      ::_exit(code == EPIPE || code == ECONNRESET ? 0 : 1);
    }
    { IpcSender ours = std::move(sender); }
    auto first = read_packet(receiver.fd(), 8 + sizes().first_fragment);
    EXPECT_EQ(first.fds.size(), 1u);
    first.fds.clear();
    { IpcReceiver gone = std::move(receiver); }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (::kill(pid, SIGKILL) == 0) {
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the sender still waits after its receiver has gone";
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
  }
}

TEST(IpcChannel, PacketsThatBreakTheFramingFailAndCloseTheirDescriptors) {
  struct Case {
    const char* what;
    std::string packet;
    bool with_continuation;
    std::string continued;  // sent on the continuation channel
    std::string error;
    bool with_socket = true;  // a socket passed along (else the message carries none)
  };
  const Case cases[] = {
      {"shorter than the header", "abc", false, "", "a received packet is too short for a message header"},
      {"longer than its header", le64(2) + "abcd", false, "", "a received message is longer than its header says"},
      {"parts announced without a channel", le64(100) + "ab", false, "",
       "a received message announces more parts but brought no channel for them", false},
      {"a part larger than the rest", le64(300) + std::string(100, 'a'), true, std::string(250, 'b'),
       "a received message part is larger than its message announced"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto [theirs, ours] = seqpacket_pair();
    IpcReceiver receiver(std::move(ours));
    auto [passed, kept] = seqpacket_pair();
    auto [continuation_send, continuation_receive] = seqpacket_pair();
    std::vector<int> fds;
    if (c.with_socket) fds.push_back(passed.get());
    if (c.with_continuation) fds.push_back(continuation_receive.get());
    ASSERT_TRUE(write_packet(theirs.get(), c.packet, fds));
    if (!c.continued.empty()) {
      ASSERT_TRUE(write_packet(continuation_send.get(), c.continued));
    }
    passed.reset();
    auto message = receiver.receive();
    ASSERT_FALSE(message);
    EXPECT_EQ(message.error().display(), c.error);
    EXPECT_TRUE(peer_closed(kept.get()));
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

// The address space this process has mapped, in bytes.
std::size_t mapped_bytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  std::size_t kib = 0;
  while (status >> key) {
    if (key == "VmSize:" && status >> kib) break;
  }
  return kib << 10;
}

TEST(IpcChannel, StorageGrowsWithWhatArrivesNotWithWhatIsAnnounced) {
  if (SANITIZED) GTEST_SKIP() << "sanitizers map terabytes of shadow memory: no address-space limit fits";
  // A sender announces 2^62 bytes, streams 300 MiB and closes. The receiver,
  // in a child whose address space may grow by 300 MiB and a margin, takes
  // in all of it and then reports the closed channel.
  constexpr std::size_t STREAMED = std::size_t{300} << 20;
  constexpr std::size_t MARGIN = std::size_t{96} << 20;
  const TransportSizes s = sizes();
  auto [theirs, ours] = seqpacket_pair();
  auto [continuation_send, continuation_receive] = seqpacket_pair();
  const pid_t pid = ::fork();
  if (pid == 0) {
    theirs.reset();
    continuation_send.reset();
    continuation_receive.reset();
    const rlimit limit{mapped_bytes() + STREAMED + MARGIN, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    try {
      IpcReceiver receiver(std::move(ours));
      auto message = receiver.receive();
      ::_exit(!message && message.error().display() == CHANNEL_CLOSED_TEXT ? 0 : 1);
    } catch (...) {
      ::_exit(3);  // out of memory
    }
  }
  ours.reset();
  ASSERT_TRUE(write_packet(theirs.get(), le64(std::uint64_t{1} << 62) + pattern(s.first_fragment),
                           {continuation_receive.get()}));
  continuation_receive.reset();
  const std::string part = pattern(s.fragment);
  std::size_t sent = s.first_fragment;
  while (sent < STREAMED && write_packet(continuation_send.get(), part)) sent += part.size();
  continuation_send.reset();
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_GE(sent, STREAMED);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                              : "status " + std::to_string(WEXITSTATUS(status)) + " (3: out of memory)");
}

// Whether any page of [begin, end) is still mapped in this process.
bool any_page_mapped(const char* begin, const char* end) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  unsigned char resident = 0;
  for (const char* p = begin; p < end; p += page) {
    if (::mincore(const_cast<char*>(p), 1, &resident) == 0 || errno != ENOMEM) return true;
  }
  return false;
}

TEST(IpcChannel, AHugeMessageGivesItsMemoryBackWhenDropped) {
  // The thread keeps a little storage for its next message, never a huge
  // message's: once dropped, all but the kept part is unmapped at once.
  constexpr std::size_t LENGTH = std::size_t{24} << 20;
  auto [sender, receiver] = *channel();
  const std::string payload = pattern(LENGTH);
  Status sent;
  std::thread writer([&] { sent = sender.send(payload); });
  auto message = receiver.receive();
  writer.join();
  ASSERT_TRUE(sent) << sent.error().display();
  ASSERT_TRUE(message) << message.error().display();
  ASSERT_TRUE(message->payload == payload);
  const char* begin = message->payload.data();
  const char* end = begin + message->payload.capacity();
  *message = IpcMessage{};
  EXPECT_FALSE(any_page_mapped(begin + ByteBuffer::KEPT_CAPACITY, end));

  // The kept part serves the next message, small or large.
  for (std::size_t length : {std::size_t{100}, LENGTH}) {
    std::thread again([&] { sent = sender.send(payload.substr(0, length)); });
    message = receiver.receive();
    again.join();
    ASSERT_TRUE(message) << message.error().display();
    EXPECT_TRUE(message->payload == std::string_view(payload).substr(0, length));
  }
}

TEST(IpcChannel, DescriptorCountIsBounded) {
  std::vector<std::pair<UniqueFd, UniqueFd>> pairs;
  std::vector<int> fds;
  for (int i = 0; i < 70; ++i) {
    pairs.push_back(seqpacket_pair());
    fds.push_back(pairs.back().first.get());
  }
  auto [sender, receiver] = *channel();
  auto sent = sender.send("x", std::span<const int>(fds.data(), 65));
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().display(), "a message carries at most 64 descriptors, not 65");
  sent = sender.send(pattern(sizes().first_fragment + 1), std::span<const int>(fds.data(), 64));
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().display(), "a message too large for one packet carries at most 63 descriptors");
  EXPECT_TRUE(testing::nothing_queued(receiver.fd()));

  ASSERT_TRUE(sender.send("x", std::span<const int>(fds.data(), 64)));
  auto message = receiver.receive();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->channels.size(), 64u);

  // More than a receiver has room for: it fails, and none of those that did
  // arrive stays open.
  auto [theirs, ours] = seqpacket_pair();
  ASSERT_TRUE(write_packet(theirs.get(), le64(1) + "x", fds));
  message = IpcReceiver(std::move(ours)).receive();
  ASSERT_FALSE(message);
  EXPECT_EQ(message.error().display(), "a received message carried more than 64 descriptors");
  for (auto& [passed, kept] : pairs) passed.reset();
  for (auto& [passed, kept] : pairs) EXPECT_TRUE(peer_closed(kept.get()));
}

TEST(UnixSocketAddress, FitsTheAddressOrFailsClearly) {
  const std::string longest = "/" + std::string(106, 'a');
  auto address = unix_socket_address(longest);
  ASSERT_TRUE(address);
  EXPECT_EQ(address->length, 2u + 107u + 1u);
  EXPECT_EQ(std::string(address->address.sun_path), longest);

  auto too_long = unix_socket_address(longest + "b");
  ASSERT_FALSE(too_long);
  EXPECT_EQ(too_long.error().display(),
            "socket path is too long for a Unix socket address (108 bytes, at most 107): \"" + longest + "b\"");
  auto with_nul = unix_socket_address(std::string("/tmp/a\0b", 8));
  ASSERT_FALSE(with_nul);
  EXPECT_EQ(with_nul.error().display(), "socket path contains a NUL byte: \"/tmp/a\\0b\"");
}

}  // namespace
}  // namespace kiv::ipc
