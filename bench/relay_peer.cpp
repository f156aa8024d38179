// The three programs of bench/relay_bench.sh in one:
//
//   relay_peer serve SOCKET COUNT SIZE
//       An editor peer serving kiv's hand-over socket SOCKET: for every
//       kiv that hands over, the handshake, kiv's request, then COUNT Stdout
//       messages of SIZE bytes of text each and Exit 0. Runs until killed.
//   relay_peer lines COUNT SIZE
//       The same bytes as kiv prints for that peer (each text and its
//       newline), one write per message, to standard output: what `cat`
//       relays in the same run.
//   relay_peer measure OUT -- COMMAND [ARG...]
//       Runs COMMAND and writes "CPU_SECONDS PEAK_RSS_KIB WALL_SECONDS" of
//       its process to OUT (user and system time with microseconds, all of
//       its threads); exits with COMMAND's status.
//
// The peer encodes its message once and sends the same payload COUNT times,
// so that its own work stays small beside what kiv does with each message.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/io.hpp"
#include "ipc/channel.hpp"
#include "ipc/messages.hpp"

namespace {

using namespace kiv;

int usage() {
  std::fputs(
      "usage: relay_peer serve SOCKET COUNT SIZE\n"
      "       relay_peer lines COUNT SIZE\n"
      "       relay_peer measure OUT -- COMMAND [ARG...]\n",
      stderr);
  return 2;
}

bool parse_size(std::string_view text, std::size_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// SIZE bytes of printable text without a newline: a repeated block.
std::string text_of(std::size_t size) {
  static constexpr std::string_view BLOCK = "kiv relays this line from the editor, byte for byte; ";
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; i += BLOCK.size())
    std::memcpy(text.data() + i, BLOCK.data(), std::min(BLOCK.size(), size - i));
  return text;
}

// The payload of a Stdout message with SIZE bytes of text, built in place:
// the variant index 1 (u32) and the text's length (u64), little-endian.
std::string stdout_payload(std::size_t size) {
  std::string payload(12, '\0');
  payload[0] = 1;
  const std::uint64_t length = size;
  for (std::size_t i = 0; i < 8; ++i) payload[4 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  payload += text_of(size);
  return payload;
}

Status serve_one(std::string_view url, const std::string& payload, std::size_t count) {
  constexpr std::string_view SCHEME = "kiv-cli://";
  if (!url.starts_with(SCHEME)) return fail("not a hand-over URL: " + std::string(url));
  KIV_TRY_ASSIGN(ipc::IpcSender connection, ipc::IpcSender::connect(std::string(url.substr(SCHEME.size()))));
  KIV_TRY_ASSIGN(ipc::Channel requests, ipc::channel());
  KIV_TRY_ASSIGN(ipc::Channel responses, ipc::channel());
  KIV_TRY(ipc::send_handshake(connection,
                              ipc::Handshake{std::move(requests.sender), std::move(responses.receiver)}));
  KIV_TRY(ipc::receive_request(requests.receiver));
  for (std::size_t i = 0; i < count; ++i) KIV_TRY(responses.sender.send(payload));
  return ipc::send_response(responses.sender, ipc::CliResponse{ipc::CliResponse::Exit{0}});
}

int serve(const std::string& socket_path, std::size_t count, std::size_t size) {
  const std::string payload = stdout_payload(size);
  auto address = ipc::unix_socket_address(socket_path);
  if (!address) {
    std::fprintf(stderr, "relay_peer: %s\n", address.error().display().c_str());
    return 1;
  }
  UniqueFd listener(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ::unlink(socket_path.c_str());
  if (!listener || ::bind(listener.get(), address->get(), address->length) != 0) {
    std::fprintf(stderr, "relay_peer: binding %s: %s\n", socket_path.c_str(), Error::last_os().display().c_str());
    return 1;
  }
  std::string datagram(65536, '\0');
  for (;;) {
    ssize_t n = ::recv(listener.get(), datagram.data(), datagram.size(), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "relay_peer: %s\n", Error::last_os().display().c_str());
      return 1;
    }
    if (auto served = serve_one(std::string_view(datagram).substr(0, static_cast<std::size_t>(n)), payload, count);
        !served) {
      std::fprintf(stderr, "relay_peer: session: %s\n", served.error().display().c_str());
    }
  }
}

int lines(std::size_t count, std::size_t size) {
  const std::string text = text_of(size);
  for (std::size_t i = 0; i < count; ++i) {
    if (!write_all(STDOUT_FILENO, text, "\n")) return 1;
  }
  return 0;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double now() {
  timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int measure(const char* out, char** command) {
  const double start = now();
  const pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    ::execvp(command[0], command);
    std::fprintf(stderr, "relay_peer: %s: %s\n", command[0], std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 1;
  }
  const double wall = now() - start;
  std::FILE* file = std::fopen(out, "w");
  if (file == nullptr) return 1;
  std::fprintf(file, "%.6f %ld %.6f\n", seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss, wall);
  std::fclose(file);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  std::size_t count = 0, size = 0;
  if (mode == "serve" && argc == 5 && parse_size(argv[3], count) && parse_size(argv[4], size))
    return serve(argv[2], count, size);
  if (mode == "lines" && argc == 4 && parse_size(argv[2], count) && parse_size(argv[3], size))
    return lines(count, size);
  if (mode == "measure" && argc >= 5 && std::string_view(argv[3]) == "--") return measure(argv[2], argv + 4);
  return usage();
}
