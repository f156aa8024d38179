// A program run on a pseudo-terminal of its own, with the test on the
// master side: what the program writes arrives byte for byte (output
// processing is off), keys are written to it, and its terminal mode and
// exit can be watched. Every wait is bounded; the program's process group is
// killed when the session ends.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::testing {

struct PtyOptions {
  std::vector<std::string> argv;           // argv[0] is the program's path
  std::map<std::string, std::string> env;  // the whole environment
  unsigned short rows = 24;
  unsigned short columns = 80;
  bool controlling_terminal = true;  // false: the program's session has none
  bool stdin_on_terminal = true;     // false: /dev/null
  std::string stdout_file;           // empty: the terminal
  std::string stderr_file;           // empty: the terminal
  bool output_processing = false;    // true: LF shown as CR LF, as terminals do by default
  std::chrono::milliseconds wait_limit{10000};  // for each single wait
};

class PtySession {
 public:
  explicit PtySession(const PtyOptions& options);
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  /// Everything the program has written to the terminal so far.
  const std::string& output() const { return output_; }
  /// The terminal's mode as the test set it up, before the program ran.
  const termios& initial_mode() const { return initial_mode_; }
  /// The terminal's mode now.
  termios mode() const;
  pid_t pid() const { return pid_; }

  /// Reads output until `done()` holds; false when the wait limit passes.
  bool wait_until(const std::function<bool()>& done);
  /// Waits until the terminal is in raw mode (no ICANON): the program waits
  /// for a key.
  bool wait_for_raw_mode();
  /// Writes `bytes` as typed keys, at once.
  void send(std::string_view bytes);
  /// Types `bytes` when the program waits for a key, then waits until the
  /// program has redrawn `redraws` times (a redraw draws one "> " marker).
  bool type(std::string_view bytes, size_t redraws = 1);
  /// Types `bytes` when the program waits for a key, without waiting after.
  bool type_last(std::string_view bytes);
  /// Changes the terminal's size (the program is not told).
  void resize(unsigned short rows, unsigned short columns);
  /// Waits for the program to end, reading its output meanwhile; its wait
  /// status, or nothing when the wait limit passes.
  std::optional<int> wait_exit();

 private:
  void pump(int timeout_ms);

  std::chrono::milliseconds wait_limit_;
  int master_ = -1;
  int slave_ = -1;  // kept open so that output is never lost to a hang-up
  pid_t pid_ = -1;
  bool reaped_ = false;
  termios initial_mode_{};
  std::string output_;
};

/// How often `needle` occurs in `haystack` (non-overlapping).
size_t count_of(std::string_view haystack, std::string_view needle);

}  // namespace kiv::testing
