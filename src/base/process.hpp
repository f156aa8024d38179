// Owners for the pieces of starting a program: argument arrays, spawn
// settings and the child itself.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace kiv {

/// The null-terminated char* array exec and posix_spawn take, pointing into
/// strings it owns, so they outlive the call.
struct CStrings {
  explicit CStrings(std::vector<std::string> strings);
  std::vector<std::string> owned;
  std::vector<char*> pointers;
};

/// posix_spawn attributes that give the child the default SIGPIPE
/// disposition back: kiv ignores it for itself, and an ignored disposition
/// would survive the exec.
class SpawnAttributes {
 public:
  SpawnAttributes();
  ~SpawnAttributes();
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

/// posix_spawn file actions, destroyed with their owner.
class SpawnFileActions {
 public:
  SpawnFileActions();
  ~SpawnFileActions();
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

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
