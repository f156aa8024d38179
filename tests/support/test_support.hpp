// Shared helpers for kiv's tests: scratch directories and running programs
// with a controlled environment and a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

/// Whether this build runs under AddressSanitizer or ThreadSanitizer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool SANITIZED = true;
#else
inline constexpr bool SANITIZED = false;
#endif

/// A fresh directory under /tmp, removed with its contents at the end.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }
  /// path() + "/" + relative.
  std::string sub(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

/// Sets (or, with nothing, unsets) one variable of this process's
/// environment for the object's lifetime; the old value comes back after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  /// Changes the value again within the same scope.
  void set(const std::optional<std::string>& value);

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

/// BrokenPipe: the write end of a pipe whose read end is already closed;
/// Full: /dev/full, where every write fails with ENOSPC.
enum class Stdio { Inherit, DevNull, Closed, Pipe, BrokenPipe, Full };

struct RunOptions {
  std::vector<std::string> argv;  // argv[0] is the program (looked up only by path)
  std::map<std::string, std::string> env;  // the whole environment of the child
  std::string cwd;                          // empty: the test's own
  Stdio stdin_mode = Stdio::DevNull;
  std::string stdin_data;                   // written when stdin_mode is Pipe, then closed
  Stdio stdout_mode = Stdio::Pipe;          // Pipe captures; Closed closes fd 1
  Stdio stderr_mode = Stdio::Pipe;
  bool as_nobody = false;                   // drop to uid/gid 65534 before exec
  // Non-empty: the child runs in a private mount namespace in which the
  // entries of this directory lie over /usr/bin (a read-only overlay that
  // nothing outside the child sees). Failing to set it up ends the child
  // with status 125 and a message on its standard error.
  std::string usr_bin_overlay;
  std::chrono::milliseconds timeout{30000};  // then the process group is killed
};

struct RunResult {
  int exit_code = -1;    // -1 when ended by a signal
  int term_signal = 0;   // the signal that ended it, or 0
  bool timed_out = false;
  std::string out;
  std::string err;
};

/// The argv and envp arrays execve takes, owning their strings.
struct ExecArgs {
  explicit ExecArgs(const RunOptions& options);
  std::vector<std::string> argv_strings, env_strings;
  std::vector<char*> argv, envp;
};

/// Waits for `pid` until `deadline`; past it, kills the process group (and
/// sets `result.timed_out`). The group is killed in any case at the end, and
/// the exit code or signal is filled into `result`.
void reap_process_group(pid_t pid, std::chrono::steady_clock::time_point deadline, RunResult& result);

/// Runs a program in its own process group and waits for it within the time
/// limit; whatever is left of the group afterwards is killed.
RunResult run_process(const RunOptions& options);

/// The built kiv executable.
std::string kiv_binary();

/// The built stand-in editor (build/libexec/kiv-editor, where kiv's bundle
/// detection finds it from build/bin/kiv).
std::string stand_in_editor_binary();

/// The first `n` bytes of the stand-in's bulk text as its README describes
/// it: 16-byte lines, each its offset within a repeated block of 1 MiB in 15
/// digits and a newline.
std::string stand_in_bulk_text(std::size_t n);

/// The directory that holds only the stand-in flatpak-spawn
/// (tools/stand_in_flatpak_spawn), to lay over /usr/bin.
std::string stand_in_flatpak_spawn_dir();

/// An environment for running kiv inside `home`: HOME, TMPDIR, the XDG
/// directories and the data directory all under it, KIV_ALLOW_ROOT=true and a
/// plain PATH. Creates the directories.
std::map<std::string, std::string> kiv_env(const std::string& home);

/// Options that run the built kiv with `args` inside `home` (kiv_env,
/// working directory `home`, a 20-second limit).
RunOptions kiv_run_options(const std::string& home, const std::vector<std::string>& args);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

}  // namespace kiv::testing
