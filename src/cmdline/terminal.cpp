#include "cmdline/terminal.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace kiv::cmdline {
namespace {

bool set_non_empty(const std::optional<std::string>& value) { return value && !value->empty(); }

}  // namespace

bool colour_wanted(bool is_terminal, const EnvLookup& env) {
  if (set_non_empty(env("NO_COLOR"))) return false;
  if (set_non_empty(env("CLICOLOR_FORCE"))) return true;
  std::optional<std::string> clicolor = env("CLICOLOR");
  if (clicolor && *clicolor == "0") return false;
  if (!is_terminal) return false;
  std::optional<std::string> term = env("TERM");
  return (term && *term != "dumb") || clicolor.has_value() || env("CI").has_value();
}

std::optional<std::size_t> parse_width(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto value = parse_ascii_decimal(text, std::numeric_limits<std::size_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::size_t>(*value);
}

std::size_t help_width(std::optional<std::size_t> terminal, const std::optional<std::string>& columns) {
  if (terminal) return *terminal;
  if (columns) {
    if (auto parsed = parse_width(*columns)) return *parsed;
  }
  return 100;
}

std::optional<std::size_t> terminal_columns() {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO, STDIN_FILENO}) {
    if (::isatty(fd) != 1) continue;
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0) continue;
    if (size.ws_row > 0 && size.ws_col > 0) return size.ws_col;
  }
  return std::nullopt;
}

RenderSettings detect_render_settings(Stream stream) {
  RenderSettings settings;
  int fd = stream == Stream::Stdout ? STDOUT_FILENO : STDERR_FILENO;
  settings.colour = colour_wanted(::isatty(fd) == 1, env_bytes);
  // Errors are never wrapped, so only help needs the width.
  if (stream == Stream::Stdout) settings.width = help_width(terminal_columns(), env_bytes("COLUMNS"));
  return settings;
}

}  // namespace kiv::cmdline
