#include "prompt/terminal_key.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "base/eintr.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"
#include "prompt/raw_mode.hpp"

namespace kiv {
namespace {

constexpr unsigned char CTRL_C = 0x03;
constexpr unsigned char ESC = 0x1b;

// Waits until `fd` is readable; `timeout_ms` 0 only looks. Whether it is.
// EINTR is retried: a signal the program chose to handle is not a key.
Result<bool> wait_readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  int ready = retry_on_eintr([&] { return ::poll(&entry, 1, timeout_ms); });
  if (ready < 0) return fail_last_os();
  return ready > 0;
}

// One read of up to `count` bytes into `buffer`. How many arrived.
Result<size_t> read_once(int fd, unsigned char* buffer, size_t count) {
  ssize_t got = retry_on_eintr([&] { return ::read(fd, buffer, count); });
  if (got > 0) return static_cast<size_t>(got);
  if (got == 0) return fail("end of file on the terminal");
  return fail_last_os();
}

// The first byte of a key: looks, and waits only when nothing is there yet.
Result<unsigned char> next_byte(int fd) {
  for (;;) {
    KIV_TRY_ASSIGN(bool ready, wait_readable(fd, 0));
    if (ready) {
      unsigned char byte = 0;
      KIV_TRY(read_once(fd, &byte, 1));
      return byte;
    }
    KIV_TRY(wait_readable(fd, -1));
  }
}

// A further byte of an escape sequence, only when it is already waiting.
Result<std::optional<unsigned char>> waiting_byte(int fd) {
  KIV_TRY_ASSIGN(bool ready, wait_readable(fd, 0));
  if (!ready) return std::nullopt;
  unsigned char byte = 0;
  KIV_TRY(read_once(fd, &byte, 1));
  return byte;
}

TerminalKey key(KeyKind kind) { return TerminalKey{kind, 0}; }

// What follows ESC [ and one more byte that is not a final letter.
TerminalKey tilde_key(unsigned char code) {
  switch (code) {
    case '1':
    case '7': return key(KeyKind::Home);
    case '2': return key(KeyKind::Insert);
    case '3': return key(KeyKind::Delete);
    case '4':
    case '8': return key(KeyKind::End);
    case '5': return key(KeyKind::PageUp);
    case '6': return key(KeyKind::PageDown);
    default: return key(KeyKind::UnknownEscape);
  }
}

// ESC has been read.
Result<TerminalKey> read_escape(int fd) {
  KIV_TRY_ASSIGN(std::optional<unsigned char> first, waiting_byte(fd));
  if (!first) return key(KeyKind::Escape);
  if (*first == CTRL_C) return key(KeyKind::Interrupt);
  if (*first != '[') return key(KeyKind::UnknownEscape);
  KIV_TRY_ASSIGN(std::optional<unsigned char> code, waiting_byte(fd));
  if (!code) return key(KeyKind::UnknownEscape);
  switch (*code) {
    case CTRL_C: return key(KeyKind::Interrupt);
    case 'A': return key(KeyKind::ArrowUp);
    case 'B': return key(KeyKind::ArrowDown);
    case 'C': return key(KeyKind::ArrowRight);
    case 'D': return key(KeyKind::ArrowLeft);
    case 'H': return key(KeyKind::Home);
    case 'F': return key(KeyKind::End);
    case 'Z': return key(KeyKind::BackTab);
    default: break;
  }
  // At most one byte more; the rest of a longer sequence is left for the
  // following keys.
  KIV_TRY_ASSIGN(std::optional<unsigned char> last, waiting_byte(fd));
  if (!last) return key(KeyKind::UnknownEscape);
  if (*last == CTRL_C) return key(KeyKind::Interrupt);
  if (*last != '~') return key(KeyKind::UnknownEscape);
  return tilde_key(*code);
}

// How many continuation bytes a UTF-8 lead byte announces (0: not a lead).
size_t continuation_count(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 1;
  if ((lead & 0xF0) == 0xE0) return 2;
  if ((lead & 0xF8) == 0xF0) return 3;
  return 0;
}

// A lead byte has been read: its continuation bytes come in one read.
Result<TerminalKey> read_utf8(int fd, unsigned char lead, size_t count) {
  unsigned char buffer[4] = {lead, 0, 0, 0};
  KIV_TRY_ASSIGN(size_t got, read_once(fd, buffer + 1, count));
  if (buffer[1] == CTRL_C) return key(KeyKind::Interrupt);
  std::string_view sequence(reinterpret_cast<const char*>(buffer), count + 1);
  // A lead that can start a well-formed sequence announces its length, so a
  // valid step takes all the bytes read.
  Utf8Step step = decode_utf8_step(sequence);
  if (got < count || !step.valid()) return key(KeyKind::Unknown);
  return TerminalKey{KeyKind::Char, step.cp};
}

}  // namespace

std::string describe(const TerminalKey& key) {
  static constexpr const char* NAMES[] = {
      "Char",       "Enter", "Tab",    "BackTab", "Backspace", "Escape", "ArrowUp", "ArrowDown",     "ArrowRight",
      "ArrowLeft",  "Home",  "End",    "Insert",  "Delete",    "PageUp", "PageDown", "UnknownEscape", "Unknown",
      "Interrupt",
  };
  std::string name = NAMES[static_cast<size_t>(key.kind)];
  if (key.kind == KeyKind::Char) {
    char code[16];
    std::snprintf(code, sizeof code, "(U+%04X)", static_cast<unsigned>(key.ch));
    name += code;
  }
  return name;
}

Result<TerminalKey> read_key(int fd) {
  KIV_TRY_ASSIGN(unsigned char first, next_byte(fd));
  if (first == CTRL_C) return key(KeyKind::Interrupt);
  if (first == ESC) return read_escape(fd);
  if (size_t count = continuation_count(first); count > 0) return read_utf8(fd, first, count);
  switch (first) {
    case '\r':
    case '\n': return key(KeyKind::Enter);
    case '\t': return key(KeyKind::Tab);
    case 0x7F:
    case 0x08: return key(KeyKind::Backspace);
    case 0x01: return key(KeyKind::Home);
    case 0x05: return key(KeyKind::End);
    default: return TerminalKey{KeyKind::Char, first};
  }
}

Result<TerminalKey> read_terminal_key() {
  UniqueFd tty;
  int fd = STDIN_FILENO;
  if (::isatty(STDIN_FILENO) != 1) {
    tty.reset(::open("/dev/tty", O_RDWR | O_CLOEXEC));
    if (!tty) return fail_last_os();
    fd = tty.get();
  }
  KIV_TRY_ASSIGN(RawMode raw, RawMode::enter(fd));
  Result<TerminalKey> key_read = read_key(fd);
  KIV_TRY(raw.restore());
  return key_read;
}

}  // namespace kiv
