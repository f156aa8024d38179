// The generators know nothing of kiv: a small definition of another shape
// (an enumerated positional that is not trailing, no file paths for plain
// words, an option with two enumerated values, a short-only flag) gets
// scripts that complete it correctly in bash and fish.
#include <gtest/gtest.h>

#include <filesystem>

#include "cmdline/command.hpp"
#include "cmdline/completion.hpp"
#include "cmdline/parse_error.hpp"
#include "shells.hpp"
#include "test_support.hpp"

namespace kiv::testing {
namespace {

using cmdline::Arg;
using cmdline::ArgAction;
using Words = std::vector<std::string>;

std::expected<int, cmdline::ParseError> any_colour(const cmdline::Command&, const Arg*, std::string_view) { return 0; }

cmdline::Command paint_command() {
  auto colours = [] {
    return cmdline::ValueParser::enumerated({{"red"}, {"green"}, {"blue"}}, any_colour);
  };
  cmdline::Command cmd("paint");
  cmd.arg(Arg("quiet").short_name('q').long_name("quiet").help("Say nothing"));
  cmd.arg(Arg("x").short_name('x').help("Short only"));
  cmd.arg(Arg("swap").long_name("swap").action(ArgAction::Append).num_args({2, 2}).value_names({"FROM", "TO"})
              .value_parser(colours()).help("Swap one colour for another"));
  cmd.arg(Arg("out").long_name("out").action(ArgAction::Set).num_args({1, 1}).value_names({"DIR"})
              .value_hint(cmdline::ValueHint::DirPath).help("Where to write"));
  cmd.arg(Arg("colour").positional().action(ArgAction::Append).num_args({1, cmdline::ValueRange::kUnbounded})
              .value_parser(colours()).help("Colours to paint with"));
  cmd.build();
  return cmd;
}

class OtherDefinition : public ::testing::TestWithParam<Shell> {};

TEST_P(OtherDefinition, CompletesItsOwnArguments) {
  ScopedTempDir home;
  const std::string work = home.sub("work");
  std::filesystem::create_directories(work + "/rdir");
  write_file(work + "/rfile", "");
  cmdline::Command cmd = paint_command();
  const std::string script =
      GetParam() == Shell::Fish ? cmdline::fish_completion(cmd) : cmdline::bash_completion(cmd);
  const std::vector<std::pair<std::string, Words>> cases = {
      {"paint --", {"--help", "--out", "--quiet", "--swap"}},
      {"paint -", {"--help", "--out", "--quiet", "--swap", "-h", "-q", "-x"}},
      // Plain words are colours, never files, and options still follow them.
      {"paint ", {"blue", "green", "red"}},
      {"paint r", {"red"}},
      {"paint red --q", {"--quiet"}},
      {"paint red -q ", {"blue", "green", "red"}},
      // Both values of --swap are colours; the word after them is a colour
      // again, as a plain word.
      {"paint --swap ", {"blue", "green", "red"}},
      {"paint --swap red g", {"green"}},
      {"paint --swap red green b", {"blue"}},
      {"paint --out ", {"rdir"}},
      {"paint --out r", {"rdir"}},
      {"paint -- ", {"blue", "green", "red"}},
  };
  for (const auto& [line, expected] : cases) {
    SCOPED_TRACE("line: \"" + line + "\"");
    EXPECT_EQ(complete_line(GetParam(), script, line, work, home.path()), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(RealShells, OtherDefinition, ::testing::Values(Shell::Bash, Shell::Fish),
                         [](const auto& p) { return shell_name(p.param); });

}  // namespace
}  // namespace kiv::testing
