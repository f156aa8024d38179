// A selection list drawn on standard error: the user moves a highlight over
// the items and chooses one.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv {

/// The fewest terminal rows the list can be drawn in: the two lines of a
/// prompt and one item.
inline constexpr size_t SELECT_MIN_ROWS = 3;

/// Draws `prompt` followed by ":" and then `items`, one per line behind a
/// marker (">" on the highlighted one, which starts at `default_index`), on
/// standard error with the cursor hidden, and reads keys from the terminal
/// (`read_terminal_key`): Down, Tab and j move the highlight down, Up,
/// Shift-Tab and k move it up, both wrapping; when the items need more than
/// one page, Left/h and Right/l switch pages (the prompt then shows
/// " [Page k/N] "); Enter or Space choose. Every other key, Escape and q
/// included, changes nothing, and every key that does not choose redraws the
/// items. On a choice the lines are cleared and replaced by the prompt, ": "
/// and the chosen item on one line, and the cursor is shown again.
///
/// Returns the chosen index. Fails with nothing written when standard error
/// is not a terminal ("not a terminal"), when it has fewer than
/// SELECT_MIN_ROWS rows ("terminal too small"), when `items` is empty or
/// `default_index` is not one of them. Fails with the lines left on screen
/// but the cursor shown again when reading a key fails, a write fails, or
/// the terminal shrinks below SELECT_MIN_ROWS. Ctrl-C shows the cursor and
/// raises SIGINT; if that does not end the process (SIGINT ignored or
/// handled), fails with "read interrupted". A terminating signal that
/// arrives while the list is shown restores the terminal's mode and the
/// cursor before it ends the process. The terminal is never left in raw
/// mode. One list at a time per process: concurrent calls wait their turn.
[[nodiscard]] Result<size_t> select_on_stderr(std::string_view prompt, std::span<const std::string> items,
                                              size_t default_index);

}  // namespace kiv
