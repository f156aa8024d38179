// The askpass relay: kiv as the askpass program of SSH and Git, passing a
// password prompt to an askpass server's Unix socket and printing the answer.
#pragma once

#include <string>

#include "base/error.hpp"

namespace kiv {

/// The exchange with the askpass server at `socket_path`, or the message
/// that ends the relay ("Error connecting to socket {path}: {error}",
/// "Error writing to socket: ...", "Error reading from socket: ...",
/// "Error writing to stdout: ..."): connect, send `prompt` ending in one NUL
/// byte, read the answer to end of stream and write it to standard output
/// unchanged. Standard output is buffered by lines: a failed write of the
/// answer's bytes after its last newline is not reported.
[[nodiscard]] Status relay_prompt(const std::string& socket_path, std::string prompt);

/// relay_prompt; on failure its message goes to standard error on a line of
/// its own. The status the invocation ends with: 0, or 1 after a failure.
[[nodiscard]] ExitStatus connect_and_write_prompt(const std::string& socket_path, std::string prompt);

namespace askpass {

/// Reads all of standard input as the prompt ("Error reading from stdin:
/// ..." and status 1 on failure), then connect_and_write_prompt.
[[nodiscard]] ExitStatus main(const std::string& socket_path);

}  // namespace askpass
}  // namespace kiv
