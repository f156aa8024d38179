#include "cli/copy.hpp"

#include <unistd.h>

#include <utility>

#include "base/copy.hpp"

namespace kiv {

Status forward_stdin(UniqueFd target) {
  // Nothing in kiv reads standard input through a buffer of its own, so
  // there is nothing buffered to copy first.
  if (::isatty(STDIN_FILENO)) return {};
  KIV_TRY(copy_all(STDIN_FILENO, target.get()));
  return {};
}

Result<std::uint64_t> relay_anonymous_fd(UniqueFd source, UniqueFd destination) {
  return copy_all(source.get(), destination.get());
}

JoinHandle<Status> spawn_stdin_forwarder(UniqueFd target) {
  return spawn_named_thread("CliStdin",
                            [target = std::move(target)]() mutable { return forward_stdin(std::move(target)); });
}

std::vector<JoinHandle<Result<std::uint64_t>>> spawn_anonymous_fd_relays(std::vector<RelayPair> pairs) {
  std::vector<JoinHandle<Result<std::uint64_t>>> handles;
  handles.reserve(pairs.size());
  for (auto& pair : pairs) {
    handles.push_back(spawn_named_thread("CliAnonymousFd", [pair = std::move(pair)]() mutable {
      return relay_anonymous_fd(std::move(pair.source), std::move(pair.destination));
    }));
  }
  return handles;
}

}  // namespace kiv
