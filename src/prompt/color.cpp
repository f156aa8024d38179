#include "prompt/color.hpp"

#include <unistd.h>

#include "base/text.hpp"

namespace kiv {

bool colors_enabled(const ColorEnvironment& environment) {
  if (environment.clicolor_force && *environment.clicolor_force != "0") return true;
  return environment.stdout_is_terminal && !environment.no_color && environment.term &&
         *environment.term != "dumb" && (!environment.clicolor || *environment.clicolor != "0");
}

ColorEnvironment current_color_environment() {
  return ColorEnvironment{
      .stdout_is_terminal = ::isatty(STDOUT_FILENO) == 1,
      .no_color = env_text("NO_COLOR"),
      .term = env_text("TERM"),
      .clicolor = env_text("CLICOLOR"),
      .clicolor_force = env_text("CLICOLOR_FORCE"),
  };
}

bool stdout_colors_enabled() {
  // A function-local static: computed once, thread-safe, and only when the
  // first styled text needs it.
  static const bool enabled = colors_enabled(current_color_environment());
  return enabled;
}

std::string style_blue(std::string_view text) {
  if (!stdout_colors_enabled()) return std::string(text);
  std::string styled = "\x1b[34m";
  styled += text;
  styled += "\x1b[0m";
  return styled;
}

}  // namespace kiv
