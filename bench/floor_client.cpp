// The floor of an open: the launcher's side of the protocol for one request,
// in one thread, with nothing a launcher could leave out. kiv is timed
// against it (bench/protocol_bench.sh).
//
//   build/bench/floor_client SOCK
//
// Makes a temporary directory in TMPDIR (else /tmp) holding a listening
// sequenced-packet socket "socket", sends "kiv-cli://" and that socket's path
// as one datagram to the editor at SOCK (build/bench/instant_peer serve SOCK),
// accepts the editor's connection and takes its handshake with the two
// channel ends, removes the socket and the directory, sends a request of 200
// bytes on the requests channel and takes the Exit response on the responses
// channel. Exits with 0 when the response is Exit 0, 1 with one line on any
// failure (every receive gives up after two seconds), 2 on a bad argument.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "handover_floor.hpp"
#include "ipc/one_shot_server.hpp"

namespace {

using namespace kiv;
using namespace kiv::bench;

constexpr const char* kProgram = "floor_client";
constexpr std::size_t kRequestPayloadBytes = 200;

// The temporary directory and the socket file in it, removed once the
// editor has connected, or at the end of a run that failed before (die ends
// the program with std::exit, which runs this destructor).
struct Rendezvous {
  ~Rendezvous() { remove(); }
  void remove() {
    if (!socket.empty()) ::unlink(socket.c_str());
    if (!dir.empty()) ::rmdir(dir.c_str());
    socket.clear();
    dir.clear();
  }
  std::string dir, socket;
};
Rendezvous rendezvous;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: floor_client SOCK\n", stderr);
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/floorXXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) die(kProgram, "mkdtemp");
  rendezvous.dir = dir;
  const std::string path = dir + "/socket";
  rendezvous.socket = path;

  auto address = make_unix_socket_address(path);
  if (!address) die(kProgram, "the temporary directory's path", ENAMETOOLONG);
  UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!listener || ::bind(listener.get(), address->get(), address->length) != 0 || ::listen(listener.get(), 10) != 0)
    die(kProgram, "listen");

  {
    UniqueFd editor = connect_unix(SOCK_DGRAM, argv[1]);
    if (!editor) die(kProgram, "connect to the editor");
    const std::string url = std::string(ipc::HANDOVER_URL_PREFIX) + path;
    if (::send(editor.get(), url.data(), url.size(), 0) != static_cast<ssize_t>(url.size())) die(kProgram, "send");
  }

  // The editor's first message on its connection: the handshake, carrying
  // the two channel ends.
  UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!connection) die(kProgram, "accept");
  listener.reset();
  rendezvous.remove();
  give_up_after_two_seconds(connection.get(), Waits::Receives);
  HandshakeMessage received;
  const ssize_t handshake_length = ::recvmsg(connection.get(), &received.message, MSG_CMSG_CLOEXEC);
  if (handshake_length != static_cast<ssize_t>(kHandshakeBytes))
    die(kProgram, "receive the handshake", handshake_length < 0 ? errno : EPROTO);
  const unsigned char* handshake = received.bytes;
  int ends[2];
  const cmsghdr* header = CMSG_FIRSTHDR(&received.message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS || header->cmsg_len != CMSG_LEN(sizeof ends))
    die(kProgram, "the handshake's channel ends", EPROTO);
  std::memcpy(ends, CMSG_DATA(header), sizeof ends);
  UniqueFd first(ends[0]), second(ends[1]);
  const std::uint64_t requests_index = get_le(handshake + kHeaderBytes, 8);
  if (get_le(handshake, 8) != kHandshakeBytes - kHeaderBytes || requests_index > 1 ||
      get_le(handshake + kHeaderBytes + 8, 8) != 1 - requests_index)
    die(kProgram, "the handshake's indices", EPROTO);
  const UniqueFd requests = requests_index == 0 ? std::move(first) : std::move(second);
  const UniqueFd responses = requests_index == 0 ? std::move(second) : std::move(first);
  connection.reset();

  unsigned char request[kHeaderBytes + kRequestPayloadBytes];
  std::memset(request, 'r', sizeof request);
  put_le(request, kRequestPayloadBytes, 8);
  if (::send(requests.get(), request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request))
    die(kProgram, "send the request");

  give_up_after_two_seconds(responses.get(), Waits::Receives);
  unsigned char response[kExitBytes + 1];
  const ssize_t response_length = ::recv(responses.get(), response, sizeof response, 0);
  if (response_length != static_cast<ssize_t>(kExitBytes) || get_le(response, 8) != kExitBytes - kHeaderBytes ||
      get_le(response + kHeaderBytes, 4) != kExitVariant)
    die(kProgram, "receive the Exit response", response_length < 0 ? errno : EPROTO);
  const auto status = static_cast<std::int32_t>(get_le(response + kHeaderBytes + 4, 4));
  if (status != 0) {
    std::fprintf(stderr, "floor_client: the editor's status is %d\n", status);
    return 1;
  }
  return 0;
}
