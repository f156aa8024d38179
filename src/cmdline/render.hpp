// Help, usage and error text for a built Command. Everything here runs only
// when something is about to be printed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "cmdline/command.hpp"
#include "cmdline/parse_error.hpp"

namespace kiv::cmdline {

/// "Usage: " and the usage line of `form`: the help form (with
/// "[OPTIONS]") for UsageForm::Plain or an empty `ids`, else the context
/// form built from `ids`; empty for UsageForm::None. Styled.
std::string render_usage(const Command& cmd, UsageForm form, std::span<const UsageId> ids);

/// The help output, styled: short help (-h) or long help (--help; the same
/// as short help when no visible argument has a long help text), wrapped to
/// `width` columns, ending in one newline.
std::string render_help(const Command& cmd, bool long_help, std::size_t width);

/// The message of a usage error, styled, ending in one newline.
std::string render_error(const Command& cmd, const ParseError& error);

/// Styled text as it is written to a stream: unchanged with colour, with
/// every escape sequence and control character removed without.
std::string for_stream(std::string_view styled, bool colour);

/// Whether an entry forces the next-line layout of its section: the help
/// column starts at `taken` (more than 40% of `width`, compared in single
/// precision) and a help text `help_width` wide would not fit beside it.
bool forces_next_line(std::size_t taken, std::size_t width, std::size_t help_width);

}  // namespace kiv::cmdline
