// The question the editor asks through kiv when it does not know yet whether
// a new invocation should go into an existing window or open a new one.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace kiv {

/// The prompt, two lines: "Configure default behavior for kiv <path>" (the
/// command pattern in blue) and "You can change this later in Kiv settings".
/// Formatting it makes the colour decision if nothing has yet.
std::string open_behavior_prompt_text();

/// The two choices, in order: index 0 "Add to existing Kiv window (kiv
/// --existing)", index 1 "Open a new window (kiv --classic)", each command in
/// blue.
std::array<std::string, 2> open_behavior_item_texts();

/// Asks the user and returns the answer to send: 0 for the existing window,
/// 1 for a new window. When standard input is not a terminal nothing is
/// drawn or read and the answer is 0; when the prompt cannot be shown or
/// fails (standard error not a terminal, a terminal too small, a key that
/// cannot be read) the answer is 0 and nothing is reported. Ctrl-C at the
/// prompt ends the process by SIGINT, as it does everywhere else.
size_t ask_open_behavior();

}  // namespace kiv
