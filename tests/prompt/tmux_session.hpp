// A program run in a real terminal: a tmux server of the test's own (its
// socket in the test's directory), one window, keys typed with send-keys,
// the screen read with capture-pane and the bytes recorded with pipe-pane.
// The server is killed when the session ends, whatever happened.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace kiv::testing {

class TmuxSession {
 public:
  /// Starts the server with a `rows` x `columns` window whose shell runs
  /// `command` once its output is being recorded. When `command` has ended,
  /// the window's shell stays, idle, so that the screen can still be read.
  TmuxSession(const std::string& dir, unsigned short rows, unsigned short columns, const std::string& command);
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  /// The visible screen, one line per row, trailing blanks dropped.
  std::vector<std::string> screen();
  /// Whether the terminal shows its cursor.
  bool cursor_visible();
  /// What the window's programs have written so far (as the terminal
  /// received it, after output processing).
  std::string stream() const;

  /// Waits until `done()` holds, at most ten seconds.
  static bool wait_until(const std::function<bool()>& done);
  /// Waits until the window's terminal is in raw mode (the program waits
  /// for a key).
  bool wait_for_raw_mode();
  /// Types the tmux key `key` (as send-keys names it) once the program waits
  /// for a key, then waits for its redraw (one more "> " marker).
  bool press(const std::string& key);
  /// Types `key` once the program waits for a key, without waiting after.
  bool press_last(const std::string& key);
  /// Waits until `command` has ended.
  bool wait_for_command();

 private:
  bool tmux(const std::vector<std::string>& args, std::string* out = nullptr);

  std::string dir_;
  std::string socket_;
  std::string stream_path_;
  std::string tty_;
  pid_t server_pid_ = -1;
};

/// `text` quoted for sh.
std::string shell_quote(const std::string& text);

/// Whether `word` stands alone (between blanks or line ends) in `text`, as a
/// flag does in the output of `stty -a`.
bool has_word(const std::string& text, const std::string& word);

}  // namespace kiv::testing
