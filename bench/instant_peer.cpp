// An editor that answers at once, for timing kiv and nothing else
// (bench/protocol_bench.sh): the editor's side of the protocol in one thread,
// a few system calls an exchange.
//
//   build/bench/instant_peer serve SOCK
//       plays a running editor: binds a datagram socket at SOCK (where kiv
//       looks for one) and does the exchange below for every "kiv-cli://PATH"
//       datagram, until SIGTERM or SIGINT, which remove SOCK.
//   build/bench/instant_peer ... kiv-cli://PATH ...
//       plays an editor that kiv starts: does the exchange once, for the
//       first argument of that form, and ends.
//
// The exchange: connect to the one-shot server at PATH, make the two
// channels (requests, responses), send the handshake with their far ends,
// close the connection, take one request and answer Exit 0. Every receive
// and send gives up after two seconds, so a launcher that is gone never
// wedges it. Run with no arguments, it prints its usage and ends with 2
// (the benchmark times that as the peer's own start).
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "handover_floor.hpp"
#include "ipc/one_shot_server.hpp"

namespace {

using namespace kiv;
using namespace kiv::bench;

constexpr const char* kProgram = "instant_peer";

// Reports a failed step of one exchange; serving goes on.
bool failed(const char* what) {
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, what, std::strerror(errno));
  return false;
}

bool exchange(std::string_view server) {
  UniqueFd connection = connect_unix(SOCK_SEQPACKET, server);
  if (!connection) return failed("connect to the launcher");
  give_up_after_two_seconds(connection.get(), Waits::ReceivesAndSends);
  int requests[2], responses[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, requests) != 0) return failed("socketpair");
  UniqueFd requests_near(requests[0]), requests_far(requests[1]);
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, responses) != 0) return failed("socketpair");
  UniqueFd responses_near(responses[0]), responses_far(responses[1]);
  give_up_after_two_seconds(requests_near.get(), Waits::Receives);
  give_up_after_two_seconds(responses_near.get(), Waits::ReceivesAndSends);

  // The handshake: the far ends as indices 0 (requests) and 1 (responses).
  HandshakeMessage handshake;
  put_le(handshake.bytes, kHandshakeBytes - kHeaderBytes, 8);
  put_le(handshake.bytes + kHeaderBytes, 0, 8);
  put_le(handshake.bytes + kHeaderBytes + 8, 1, 8);
  const int ends[2] = {requests_far.get(), responses_far.get()};
  cmsghdr* header = CMSG_FIRSTHDR(&handshake.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof ends);
  std::memcpy(CMSG_DATA(header), ends, sizeof ends);
  if (::sendmsg(connection.get(), &handshake.message, MSG_NOSIGNAL) < 0) return failed("send the handshake");
  connection.reset();
  requests_far.reset();
  responses_far.reset();

  // One request, whatever it says (a longer one is cut short, unread).
  unsigned char request[4096];
  if (::recv(requests_near.get(), request, sizeof request, MSG_TRUNC) < 0) return failed("receive the request");
  unsigned char exit[kExitBytes];
  put_le(exit, kExitBytes - kHeaderBytes, 8);
  put_le(exit + kHeaderBytes, kExitVariant, 4);
  put_le(exit + kHeaderBytes + 4, 0, 4);
  if (::send(responses_near.get(), exit, sizeof exit, MSG_NOSIGNAL) < 0) return failed("send Exit");
  return true;
}

const char* g_socket_path = nullptr;

void remove_socket_and_end(int) {
  ::unlink(g_socket_path);
  ::_exit(0);
}

int serve(const char* socket_path) {
  auto address = make_unix_socket_address(socket_path);
  if (!address) die(kProgram, "not a socket path", ENAMETOOLONG);
  UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) die(kProgram, "socket");
  ::unlink(socket_path);
  if (::bind(socket.get(), address->get(), address->length) != 0) die(kProgram, "bind");
  g_socket_path = socket_path;
  struct sigaction action {};
  action.sa_handler = remove_socket_and_end;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  char url[4096];
  for (;;) {
    const ssize_t n = ::recv(socket.get(), url, sizeof url, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      die(kProgram, "receive");
    }
    const std::string_view received(url, static_cast<std::size_t>(n));
    if (received.starts_with(ipc::HANDOVER_URL_PREFIX)) exchange(received.substr(ipc::HANDOVER_URL_PREFIX.size()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument.starts_with(ipc::HANDOVER_URL_PREFIX))
      return exchange(argument.substr(ipc::HANDOVER_URL_PREFIX.size())) ? 0 : 1;
  }
  if (argc == 3 && std::string_view(argv[1]) == "serve") return serve(argv[2]);
  std::fputs("usage: instant_peer serve SOCK | instant_peer ... kiv-cli://PATH ...\n", stderr);
  return 2;
}
