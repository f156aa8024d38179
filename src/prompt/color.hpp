// Whether styled text for standard output carries colour, and the one style
// kiv uses (blue).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

/// What the colour decision looks at. A variable that is not valid UTF-8
/// counts as absent.
struct ColorEnvironment {
  bool stdout_is_terminal = false;
  std::optional<std::string> no_color{};
  std::optional<std::string> term{};
  std::optional<std::string> clicolor{};
  std::optional<std::string> clicolor_force{};
};

/// The colour decision: on when `CLICOLOR_FORCE` is set to anything but "0";
/// otherwise on only when standard output is a terminal, `NO_COLOR` is
/// absent (whatever its value), `TERM` is present and not exactly "dumb", and
/// `CLICOLOR` is absent or not exactly "0". Never fails.
bool colors_enabled(const ColorEnvironment& environment);

/// The process's own standard output and environment, read now.
ColorEnvironment current_color_environment();

/// The decision for this process: computed from `current_color_environment()`
/// on the first call (the first styled text formatted) and never again, so
/// later changes to the environment or to standard output do not matter.
bool stdout_colors_enabled();

/// `text` in blue foreground (ESC [34m before, ESC [0m after) when
/// `stdout_colors_enabled()`, else `text` unchanged.
std::string style_blue(std::string_view text);

}  // namespace kiv
