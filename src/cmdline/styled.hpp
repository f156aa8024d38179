// Styled text for help and error output. Styles are written as ANSI escape
// sequences while the text is built; text for a stream without colour has
// them removed in one pass just before it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::cmdline {

/// The roles a piece of output can have. Plain pieces carry no escape at all,
/// not even a reset.
enum class Style : std::uint8_t {
  Plain,    // value names, [OPTIONS], help texts, possible values in help
  Header,   // "Arguments:", "Options:"
  Usage,    // "Usage:"
  Literal,  // the program name and option names
  Error,    // "error:"
  Valid,    // "tip:", suggestions, accepted values, expected counts
  Invalid,  // what the user got wrong
};

/// Appends `text` to `out` in `style`: the style's start sequence, the text
/// and a reset; `text` alone for Style::Plain.
void push_styled(std::string& out, Style style, std::string_view text);

/// The number of display columns of `text` (valid UTF-8): one per character,
/// with every span from an ASCII control character up to and including the
/// next 'm' counted as zero, so that escape sequences take no room.
std::size_t display_width(std::string_view text);

/// `text` as written to a stream without colour: every escape sequence is
/// removed, and so is every C0 control character except TAB, LF, FF and CR,
/// and DEL. Bytes from 0x80 up (UTF-8 text) are kept.
std::string strip_styles(std::string_view text);

}  // namespace kiv::cmdline
