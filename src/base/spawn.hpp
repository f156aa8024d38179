// Starting a child process with posix_spawn: the attribute objects are owned
// here, and every failure, the exec's included, comes back to the caller.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/error.hpp"

namespace kiv {

/// argv or envp arrays for exec: pointers into strings this object owns.
class CStringArray {
 public:
  explicit CStringArray(std::vector<std::string> strings);
  CStringArray(const CStringArray&) = delete;
  CStringArray& operator=(const CStringArray&) = delete;
  char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> owned_;
  std::vector<char*> pointers_;
};

struct SpawnOptions {
  /// The child starts a session of its own.
  bool new_session = false;
  /// The child's descriptors 0, 1 and 2 are closed before the exec.
  bool close_standard_streams = false;
};

/// Starts `argv[0]` (looked up in PATH when it holds no slash) with `argv` and
/// `envp`. The child gets SIGPIPE's default action back: kiv ignores it for
/// itself, and an ignored disposition would survive the exec. The error is the
/// OS error of whichever step failed, the exec included (the child has then
/// already ended).
[[nodiscard]] Result<pid_t> spawn_process(const CStringArray& argv, char* const* envp,
                                          const SpawnOptions& options = {});

/// Waits for `pid`, retrying on EINTR, and returns its wait status.
[[nodiscard]] Result<int> wait_for_process(pid_t pid);

}  // namespace kiv
