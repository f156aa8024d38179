// The terminal's input switched to raw mode for the read of one key.
#pragma once

#include <termios.h>

#include "base/error.hpp"

namespace kiv {

/// Raw input on one descriptor, for as long as the value lives or until
/// `restore()`. Raw means: no line editing, no echo, no signals from keys,
/// no CR-to-LF translation, eight-bit bytes, reads of at least one byte;
/// output processing is left exactly as it was. While raw, the saved mode is
/// also known to the signal guard (terminal_restore.hpp).
class RawMode {
 public:
  /// Switches `fd` to raw input, waiting for pending output to drain first.
  /// Fails with the OS error of reading or setting the mode; the mode is
  /// unchanged then.
  [[nodiscard]] static Result<RawMode> enter(int fd);

  /// Puts the saved mode back (after pending output has drained). Fails with
  /// the OS error of setting it. Only the first call does anything.
  [[nodiscard]] Status restore();

  /// Restores when `restore()` was not called; a failure there is ignored.
  ~RawMode();
  RawMode(RawMode&& other) noexcept;
  RawMode& operator=(RawMode&&) = delete;
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  RawMode(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  int fd_ = -1;  // -1 once restored
  termios saved_{};
};

}  // namespace kiv
