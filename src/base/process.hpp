// Starting programs: argument arrays, spawn settings, the child itself. Every
// child is started with posix_spawn, which reports a failed exec to the
// caller instead of leaving it to a child that can no longer say so.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace kiv {

/// The null-terminated char* array exec and posix_spawn take, pointing into
/// strings it owns, so they outlive the call.
struct CStrings {
  explicit CStrings(std::vector<std::string> strings);
  CStrings(const CStrings&) = delete;
  CStrings& operator=(const CStrings&) = delete;
  char* const* get() const { return pointers.data(); }
  std::vector<std::string> owned;
  std::vector<char*> pointers;
};

/// posix_spawn file actions, destroyed with their owner. Each call is
/// checked: a failure is the OS error.
class SpawnFileActions {
 public:
  SpawnFileActions();
  ~SpawnFileActions();
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  [[nodiscard]] Status add_open(int fd, const char* path, int flags);
  [[nodiscard]] Status add_dup2(int from, int to);
  [[nodiscard]] Status add_close(int fd);
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  int init_error_;
};

struct SpawnOptions {
  /// The child starts a session of its own.
  bool new_session = false;
  /// Signals the child gets back at their default action besides SIGPIPE,
  /// which it always gets back: kiv ignores it for itself, and an ignored
  /// disposition would survive the exec.
  std::vector<int> default_signals;
  /// Descriptor changes made in the child before the exec, if any.
  const SpawnFileActions* file_actions = nullptr;
};

/// This process's environment as NAME=VALUE texts, with `name` set to
/// `value` (replacing an entry of that name), for a child's envp.
std::vector<std::string> environment_with(std::string_view name, std::string_view value);

/// Starts `argv[0]` (looked up in PATH when it holds no slash) with `argv`
/// and `envp`, with no signal blocked and SIGPIPE (and the options' default
/// signals) at the default action, whatever this process has. The error is
/// the OS error of whichever step failed, the exec included (the child has
/// then already ended and been reaped).
[[nodiscard]] Result<pid_t> spawn_process(const CStrings& argv, char* const* envp, const SpawnOptions& options = {});

/// Replaces this process by the program at `path` with `argv` and the
/// current environment, starting it as spawn_process starts a child: no
/// signal blocked, SIGPIPE at the default action. Returns only on failure,
/// with the errno, the mask and SIGPIPE's disposition put back.
[[nodiscard]] int exec_in_place(const char* path, const CStrings& argv);

/// Waits for `pid`, retrying on EINTR, and returns its wait status.
[[nodiscard]] Result<int> wait_for_process(pid_t pid);

/// A started child that is waited for when its owner goes, so that none is
/// left behind unreaped.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() { wait(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Waits for the child (EINTR retried) and returns its wait status; later
  /// calls return the same status. -1 when it could not be waited for.
  int wait();

 private:
  pid_t pid_;
  int status_ = -1;
};

}  // namespace kiv
