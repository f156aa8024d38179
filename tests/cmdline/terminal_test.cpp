#include "cmdline/terminal.hpp"

#include <gtest/gtest.h>

#include <map>

namespace kiv::cmdline {
namespace {

TEST(ColourWanted, VariablesThenTerminal) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    Env env;
    bool terminal;
    bool colour;
  };
  const Case cases[] = {
      {{{"TERM", "xterm"}}, true, true},
      {{{"TERM", "xterm"}}, false, false},
      {{{"TERM", "dumb"}}, true, false},
      {{}, true, false},                                  // no TERM on a terminal
      {{{"CLICOLOR", ""}}, true, true},                   // CLICOLOR set to anything but "0"
      {{{"CI", ""}}, true, true},
      {{{"CI", "1"}}, false, false},
      {{{"TERM", "xterm"}, {"CLICOLOR", "0"}}, true, false},
      {{{"CLICOLOR_FORCE", "1"}}, false, true},
      {{{"CLICOLOR_FORCE", "0"}}, false, true},           // any non-empty value forces
      {{{"CLICOLOR_FORCE", ""}}, false, false},           // empty counts as unset
      {{{"CLICOLOR_FORCE", "1"}, {"CLICOLOR", "0"}}, false, true},
      {{{"NO_COLOR", "1"}, {"CLICOLOR_FORCE", "1"}, {"TERM", "xterm"}}, true, false},
      {{{"NO_COLOR", ""}, {"TERM", "xterm"}}, true, true},  // empty counts as unset
      {{{"NO_COLOR", "\xFF"}, {"TERM", "xterm"}}, true, false},
  };
  for (const Case& c : cases) {
    std::string trace = c.terminal ? "terminal" : "not a terminal";
    for (const auto& [k, v] : c.env) trace += " " + k + "=" + v;
    SCOPED_TRACE(trace);
    EnvLookup env = [&](const char* name) -> std::optional<std::string> {
      auto it = c.env.find(name);
      if (it == c.env.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(colour_wanted(c.terminal, env), c.colour);
  }
}

TEST(HelpWidth, TerminalThenColumnsThen100) {
  struct Case {
    std::optional<std::size_t> terminal;
    std::optional<std::string> columns;
    std::size_t width;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 100},
      {std::nullopt, "80", 80},
      {std::nullopt, "+80", 80},
      {std::nullopt, "00080", 80},
      {std::nullopt, "0", 0},
      {std::nullopt, "18446744073709551615", 18446744073709551615u},
      {std::nullopt, "18446744073709551616", 100},  // does not fit in 64 bits
      {std::nullopt, "80 ", 100},
      {std::nullopt, " 80", 100},
      {std::nullopt, "0x50", 100},
      {std::nullopt, "8_0", 100},
      {std::nullopt, "-0", 100},
      {std::nullopt, "+", 100},
      {std::nullopt, "", 100},
      {120, "80", 120},  // a terminal wins over COLUMNS
      {200, std::nullopt, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns.value_or("<unset>"));
    EXPECT_EQ(help_width(c.terminal, c.columns), c.width);
  }
}

}  // namespace
}  // namespace kiv::cmdline
