#include "askpass/askpass.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include "base/io.hpp"
#include "base/socket_address.hpp"

namespace kiv {
namespace {

Result<UniqueFd> connect_stream(const std::string& path) {
  auto address = make_unix_socket_address(path);
  if (!address) {
    return fail(address.error() == UnixAddressProblem::InteriorNul ? "paths must not contain interior null bytes"
                                                                    : "path must be shorter than SUN_LEN");
  }
  return connect_unix_socket(*address, SOCK_STREAM);
}

ExitStatus report(const Error& error) {
  std::string line = error.display() + "\n";
  (void)write_all(STDERR_FILENO, line);
  return 1;
}

}  // namespace

Status relay_prompt(const std::string& socket_path, std::string prompt) {
  KIV_TRY_ASSIGN(UniqueFd socket, with_context(connect_stream(socket_path), "Error connecting to socket " + socket_path));
  if (prompt.empty() || prompt.back() != '\0') prompt += '\0';
  KIV_TRY(with_context(write_all(socket.get(), prompt), "Error writing to socket"));
  // The writing direction stays open: the server reads up to the NUL byte.
  std::string reply;
  KIV_TRY(with_context(read_to_end(socket.get(), reply), "Error reading from socket"));
  // Standard output is buffered by lines: the complete lines are written
  // now, and a failure is reported; the bytes after the last newline wait for
  // the flush as the process ends, whose failure is not.
  const std::string_view answer(reply);
  const std::size_t last_newline = answer.rfind('\n');
  const std::size_t lines = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  KIV_TRY(with_context(write_all(STDOUT_FILENO, answer.substr(0, lines)), "Error writing to stdout"));
  (void)write_all(STDOUT_FILENO, answer.substr(lines));
  return {};
}

ExitStatus connect_and_write_prompt(const std::string& socket_path, std::string prompt) {
  Status status = relay_prompt(socket_path, std::move(prompt));
  return status ? 0 : report(status.error());
}

namespace askpass {

ExitStatus main(const std::string& socket_path) {
  std::string prompt;
  if (Status status = with_context(read_to_end(STDIN_FILENO, prompt), "Error reading from stdin"); !status)
    return report(status.error());
  return connect_and_write_prompt(socket_path, std::move(prompt));
}

}  // namespace askpass
}  // namespace kiv
