// The decoders of the editor's messages and of kiv's requests, on any bytes.
// Whatever decodes must encode back to exactly the bytes it was read from
// (the encoding has one form per value; trailing bytes are ignored), and a
// Handshake must take only the two descriptors it names and close the rest.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "ipc/messages.hpp"

namespace {

std::uint64_t le64(std::string_view bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return value;
}

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

void requests(std::string_view payload) {
  auto request = kiv::ipc::decode_request(payload);
  if (!request) return;
  auto encoded = kiv::ipc::encode_request(*request);
  FUZZ_CHECK(encoded.has_value());
  FUZZ_CHECK(payload.starts_with(*encoded));
  auto again = kiv::ipc::decode_request(*encoded);
  FUZZ_CHECK(again.has_value() && *again == *request);
}

void responses(std::string_view payload) {
  auto response = kiv::ipc::decode_response(payload);
  if (!response) return;
  auto encoded = kiv::ipc::encode_response(*response);
  FUZZ_CHECK(encoded.has_value());
  FUZZ_CHECK(payload.starts_with(*encoded));
}

// The first byte says how many sockets travel with the payload (0 to 3).
void handshake(std::string_view input) {
  if (input.empty()) return;
  const std::size_t sockets = static_cast<unsigned char>(input[0]) % 4;
  const std::string_view payload = input.substr(1);

  kiv::ipc::IpcMessage message;
  message.payload = std::string(payload);
  std::vector<int> ours;  // the far end of each socket pair
  std::vector<int> sent;
  for (std::size_t i = 0; i < sockets; ++i) {
    int fds[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0);
    message.channels.emplace_back(fds[0]);
    sent.push_back(fds[0]);
    ours.push_back(fds[1]);
  }

  auto decoded = kiv::ipc::decode_handshake(std::move(message));
  const bool valid = payload.size() >= 16 && le64(payload) < sockets && le64(payload.substr(8)) < sockets &&
                     le64(payload) != le64(payload.substr(8));
  FUZZ_CHECK(decoded.has_value() == valid);
  if (decoded) {
    // Exactly the two named descriptors are still open, as the two ends.
    FUZZ_CHECK(decoded->requests.fd() == sent[le64(payload)]);
    FUZZ_CHECK(decoded->responses.fd() == sent[le64(payload.substr(8))]);
    for (int fd : sent) FUZZ_CHECK(is_open(fd) == (fd == decoded->requests.fd() || fd == decoded->responses.fd()));
  } else {
    for (int fd : sent) FUZZ_CHECK(!is_open(fd));
  }
  decoded = std::unexpected(kiv::Error("done"));
  for (int fd : ours) ::close(fd);
}

}  // namespace

// The first byte chooses the decoder; the rest is the payload.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      requests(payload);
      break;
    case 1:
      responses(payload);
      break;
    default:
      handshake(payload);
      break;
  }
  return 0;
}
