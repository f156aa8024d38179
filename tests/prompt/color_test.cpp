#include "prompt/color.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kiv {
namespace {

TEST(ColorsEnabled, FollowsTerminalAndVariables) {
  struct Case {
    const char* name;
    ColorEnvironment environment;
    bool enabled;
  };
  const auto tty = [](ColorEnvironment e) {
    e.stdout_is_terminal = true;
    if (!e.term) e.term = "xterm";
    return e;
  };
  const Case cases[] = {
      {"terminal with TERM", tty({}), true},
      {"not a terminal", {.term = "xterm"}, false},
      {"TERM absent", {.stdout_is_terminal = true}, false},
      {"TERM empty is not dumb", tty({.term = ""}), true},
      {"TERM dumb", tty({.term = "dumb"}), false},
      {"TERM DUMB is case-sensitive", tty({.term = "DUMB"}), true},
      {"NO_COLOR set", tty({.no_color = "1"}), false},
      {"NO_COLOR empty still counts", tty({.no_color = ""}), false},
      {"NO_COLOR 0 still counts", tty({.no_color = "0"}), false},
      {"CLICOLOR 0", tty({.clicolor = "0"}), false},
      {"CLICOLOR 00", tty({.clicolor = "00"}), true},
      {"CLICOLOR no", tty({.clicolor = "no"}), true},
      {"CLICOLOR empty", tty({.clicolor = ""}), true},
      {"CLICOLOR_FORCE 1 without a terminal", {.clicolor_force = "1"}, true},
      {"CLICOLOR_FORCE empty forces", {.clicolor_force = ""}, true},
      {"CLICOLOR_FORCE false forces", {.clicolor_force = "false"}, true},
      {"CLICOLOR_FORCE 0 does not force", {.term = "xterm", .clicolor_force = "0"}, false},
      {"CLICOLOR_FORCE 0 leaves a terminal coloured", tty({.clicolor_force = "0"}), true},
      {"CLICOLOR_FORCE beats NO_COLOR, dumb and CLICOLOR 0",
       {.no_color = "1", .term = "dumb", .clicolor = "0", .clicolor_force = "1"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(colors_enabled(c.environment), c.enabled);
  }
}

TEST(CurrentColorEnvironment, NonUtf8ValuesCountAsAbsent) {
  ::setenv("NO_COLOR", "\xff", 1);
  ::setenv("TERM", "xterm\xff", 1);
  ::setenv("CLICOLOR", "0", 1);
  ::setenv("CLICOLOR_FORCE", "\xfe", 1);
  ColorEnvironment environment = current_color_environment();
  EXPECT_FALSE(environment.no_color);
  EXPECT_FALSE(environment.term);
  EXPECT_EQ(environment.clicolor, "0");
  EXPECT_FALSE(environment.clicolor_force);
}

// Runs `body` in a child process, where the process-wide decision has not
// been made yet; the child's exit status is the number of failed checks.
int in_fresh_process(void (*body)(int& failures)) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int failures = 0;
    body(failures);
    _exit(failures);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StyleBlue, DecidedOnceAtTheFirstStyledText) {
  // Set before the first styled text: the decision follows it; changed
  // after: the decision stays.
  EXPECT_EQ(in_fresh_process([](int& failures) {
              ::setenv("CLICOLOR_FORCE", "1", 1);
              failures += style_blue("kiv --classic") != "\x1b[34mkiv --classic\x1b[0m";
              ::unsetenv("CLICOLOR_FORCE");
              ::setenv("NO_COLOR", "1", 1);
              failures += style_blue("x") != "\x1b[34mx\x1b[0m";
              failures += !stdout_colors_enabled();
            }),
            0);
  EXPECT_EQ(in_fresh_process([](int& failures) {
              ::unsetenv("CLICOLOR_FORCE");
              ::setenv("NO_COLOR", "", 1);
              failures += style_blue("kiv <path>") != "kiv <path>";
              ::setenv("CLICOLOR_FORCE", "1", 1);
              failures += style_blue("kiv <path>") != "kiv <path>";
              failures += stdout_colors_enabled();
            }),
            0);
}

}  // namespace
}  // namespace kiv
