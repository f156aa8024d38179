#include "cmdline/styled.hpp"

#include "base/text.hpp"

namespace kiv::cmdline {
namespace {

constexpr std::string_view kReset = "\x1b[0m";

std::string_view start_of(Style style) {
  switch (style) {
    case Style::Plain: return "";
    case Style::Header:
    case Style::Usage: return "\x1b[1m\x1b[4m";
    case Style::Literal: return "\x1b[1m";
    case Style::Error: return "\x1b[1m\x1b[31m";
    case Style::Valid: return "\x1b[32m";
    case Style::Invalid: return "\x1b[33m";
  }
  return "";
}

bool is_kept_control(unsigned char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

}  // namespace

void push_styled(std::string& out, Style style, std::string_view text) {
  if (style == Style::Plain) {
    out += text;
    return;
  }
  out += start_of(style);
  out += text;
  out += kReset;
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  bool in_control = false;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      in_control = true;
    } else if (in_control && c == 'm') {
      in_control = false;
      continue;
    }
    // Continuation bytes belong to the character their lead byte counted.
    if (!in_control && !is_utf8_continuation(c)) ++width;
  }
  return width;
}

std::string strip_styles(std::string_view text) {
  // A small terminal-sequence recogniser: CSI (ESC [ ... final), OSC
  // (ESC ] ... BEL or ST), DCS/SOS/PM/APC strings (up to ST) and two-byte
  // escapes. What it recognises is dropped; CAN and SUB abort a sequence.
  enum class State { Ground, Escape, EscapeIntermediate, Csi, Osc, String };
  State state = State::Ground;
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c == 0x1B) {
      state = State::Escape;
      continue;
    }
    if (c == 0x18 || c == 0x1A) {
      state = State::Ground;
      continue;
    }
    if (c < 0x20) {
      // Whitespace controls survive wherever they appear; a BEL ends an OSC.
      if (is_kept_control(c)) out += ch;
      if (c == 0x07 && state == State::Osc) state = State::Ground;
      continue;
    }
    if (c == 0x7F) continue;
    if (c >= 0x80 && state != State::Osc && state != State::String) {
      // Text (UTF-8) ends an unfinished escape or control sequence.
      state = State::Ground;
      out += ch;
      continue;
    }
    switch (state) {
      case State::Ground: out += ch; break;
      case State::Escape:
        if (c == '[') {
          state = State::Csi;
        } else if (c == ']') {
          state = State::Osc;
        } else if (c == 'P' || c == 'X' || c == '^' || c == '_') {
          state = State::String;
        } else if (c <= 0x2F) {
          state = State::EscapeIntermediate;
        } else {
          state = State::Ground;
        }
        break;
      case State::EscapeIntermediate:
        if (c >= 0x30) state = State::Ground;
        break;
      case State::Csi:
        if (c >= 0x40) state = State::Ground;
        break;
      case State::Osc:
      case State::String: break;  // the payload is dropped up to its terminator
    }
  }
  return out;
}

}  // namespace kiv::cmdline
