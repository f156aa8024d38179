// Copying standard input and anonymous memory files into their temporary
// files, on threads of their own.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "base/unique_fd.hpp"
#include "cli/threads.hpp"

namespace kiv {

/// Copies everything from `from` (at its current position) to `to` (at its
/// position), in order: the kernel's in-kernel copy where the descriptor
/// kinds allow it, else a read/write loop. EINTR is retried, partial writes
/// continued; a write that takes nothing fails with "failed to write whole
/// buffer". Returns the number of bytes copied.
[[nodiscard]] Result<std::uint64_t> copy_all(int from, int to);

/// Copies standard input into `target` unless standard input is a
/// terminal, and closes `target` in every case.
[[nodiscard]] Status forward_stdin(UniqueFd target);

/// Copies `source` into `destination` and closes both in every case.
[[nodiscard]] Result<std::uint64_t> relay_anonymous_fd(UniqueFd source, UniqueFd destination);

using RelayPair = std::pair<UniqueFd, UniqueFd>;  // (source, destination)

/// Starts "CliStdin" running forward_stdin on `target`.
JoinHandle<Status> spawn_stdin_forwarder(UniqueFd target);

/// Starts one "CliAnonymousFd" thread per pair, in list order.
std::vector<JoinHandle<Result<std::uint64_t>>> spawn_anonymous_fd_relays(std::vector<RelayPair> pairs);

}  // namespace kiv
