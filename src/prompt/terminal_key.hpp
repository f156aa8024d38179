// Keys read from a terminal, one at a time.
#pragma once

#include <string>

#include "base/error.hpp"

namespace kiv {

enum class KeyKind {
  Char,           // a character; `TerminalKey::ch` holds it
  Enter,          // CR or LF
  Tab,
  BackTab,        // Shift-Tab, ESC [ Z
  Backspace,      // DEL or BS
  Escape,         // ESC with nothing after it already waiting
  ArrowUp,
  ArrowDown,
  ArrowRight,
  ArrowLeft,
  Home,
  End,
  Insert,
  Delete,
  PageUp,
  PageDown,
  UnknownEscape,  // an escape sequence not in this list (its bytes are consumed, at most four)
  Unknown,        // a UTF-8 lead byte whose sequence does not decode
  Interrupt,      // Ctrl-C (byte 0x03) in any position of a key
};

struct TerminalKey {
  KeyKind kind = KeyKind::Unknown;
  char32_t ch = 0;  // only for KeyKind::Char: the character, or a stray byte's value

  friend bool operator==(const TerminalKey&, const TerminalKey&) = default;
};

/// A short name for messages and tests ("ArrowDown", "Char(U+0071)").
std::string describe(const TerminalKey& key);

/// Reads and decodes one key from `fd`, which should be in raw mode. Waits
/// for the first byte without a time limit (a caught signal does not end the
/// wait); the bytes after an ESC count only when they are already waiting,
/// so an ESC alone is Escape, and an arrow key arrives whole. Fails with the
/// OS error of poll or read, or with "end of file on the terminal" when a
/// read returns nothing (a hung-up terminal).
[[nodiscard]] Result<TerminalKey> read_key(int fd);

/// Reads one key from the user's terminal: standard input when that is a
/// terminal, else /dev/tty opened for this key alone. The terminal is in raw
/// mode for exactly this read and back in its own mode on return, whatever
/// happens. Fails with the OS error of opening /dev/tty (no controlling
/// terminal: ENXIO) or of switching the mode, or as `read_key`; a failure to
/// put the mode back outranks the key read.
[[nodiscard]] Result<TerminalKey> read_terminal_key();

}  // namespace kiv
