// The two decisions taken from the process's terminals and environment when
// help or an error is printed: the help width and whether to colour.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.hpp"

namespace kiv::cmdline {

/// Whether text for a stream is coloured, given whether that stream is a
/// terminal: never with a non-empty NO_COLOR; always with a non-empty
/// CLICOLOR_FORCE; never with CLICOLOR exactly "0"; otherwise only on a
/// terminal, and there only when TERM is set and not "dumb", or CLICOLOR or
/// CI is set (to anything, the empty text included).
bool colour_wanted(bool is_terminal, const EnvLookup& env);

/// COLUMNS (or any such value) as a width: an optional '+' and ASCII digits,
/// fitting in 64 bits; nothing for any other text.
std::optional<std::size_t> parse_width(std::string_view text);

/// The help width: the terminal's columns when there is a terminal, else
/// COLUMNS when it parses, else 100. There is no upper limit.
std::size_t help_width(std::optional<std::size_t> terminal_columns, const std::optional<std::string>& columns);

/// The column count of the first of descriptors 1, 2 and 0 that is a
/// terminal reporting a size with both rows and columns above zero.
std::optional<std::size_t> terminal_columns();

/// Standard output or standard error.
enum class Stream { Stdout, Stderr };

/// How the text for one stream is laid out and coloured.
struct RenderSettings {
  std::size_t width = 100;
  bool colour = false;
};

/// The settings for `stream` taken from this process: its terminals and
/// environment. Only asked when something is about to be printed.
RenderSettings detect_render_settings(Stream stream);

}  // namespace kiv::cmdline
