// Word wrapping of help texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv::cmdline {

/// `text` wrapped to `width` display columns, line by line. Words are
/// separated by blanks (U+0020) only. A line's leading blanks are its indent
/// and are repeated on the lines it wraps to. The first word of a line never
/// moves; a later word moves to a new line when it would end past `width`
/// (ending exactly at `width` fits), and the line it leaves loses its
/// trailing whitespace. Trailing whitespace of the whole result is removed
/// (whitespace here is ASCII: help texts are written by the definition).
/// A word longer than `width` stays whole on a line of its own.
std::string wrap_text(std::string_view text, std::size_t width);

/// `text` with every LF followed by `indent` blanks.
std::string indent_lines(std::string_view text, std::size_t indent);

}  // namespace kiv::cmdline
