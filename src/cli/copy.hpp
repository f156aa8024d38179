// Copying standard input and anonymous memory files into their temporary
// files, on threads of their own.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "base/unique_fd.hpp"
#include "base/thread.hpp"

namespace kiv {

/// Copies standard input into `target` unless standard input is a
/// terminal, and closes `target` in every case.
[[nodiscard]] Status forward_stdin(UniqueFd target);

/// Copies `source` into `destination` and closes both in every case.
[[nodiscard]] Result<std::uint64_t> relay_anonymous_fd(UniqueFd source, UniqueFd destination);

/// An anonymous memory file and the temporary file its content goes to.
struct RelayPair {
  UniqueFd source;
  UniqueFd destination;
};

/// Starts "CliStdin" running forward_stdin on `target`.
JoinHandle<Status> spawn_stdin_forwarder(UniqueFd target);

/// Starts one "CliAnonymousFd" thread per pair, in list order.
std::vector<JoinHandle<Result<std::uint64_t>>> spawn_anonymous_fd_relays(std::vector<RelayPair> pairs);

}  // namespace kiv
