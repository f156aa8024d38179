// The model on small definitions of its own: display forms, program names,
// layout decisions and the help skeleton without kiv's texts.
#include "cmdline/command.hpp"

#include <gtest/gtest.h>

#include "cmdline/parser.hpp"
#include "cmdline/render.hpp"

namespace kiv::cmdline {
namespace {

TEST(ArgDisplay, NamesAndValueNames) {
  Command cmd("tool");
  cmd.arg(Arg("quiet").short_name('q').long_name("quiet"))
      .arg(Arg("out_dir").long_name("out-dir").action(ArgAction::Set))
      .arg(Arg("pair").long_name("pair").action(ArgAction::Append).num_args({2, 2}).value_names({"A", "B"}))
      .arg(Arg("one_name_twice").long_name("twice").action(ArgAction::Append).num_args({2, 2}))
      .arg(Arg("many").long_name("many").action(ArgAction::Append).num_args({1, ValueRange::kUnbounded}))
      .arg(Arg("files").positional().action(ArgAction::Append).num_args({1, ValueRange::kUnbounded}))
      .build();
  const char* expected[] = {"--quiet",           "--out-dir <OUT_DIR>",    "--pair <A> <B>",
                            "--twice <ONE_NAME_TWICE> <ONE_NAME_TWICE>", "--many <MANY>...", "[FILES]...",
                            "--help"};
  ASSERT_EQ(cmd.args().size(), std::size(expected));
  for (std::size_t i = 0; i < cmd.args().size(); ++i) EXPECT_EQ(cmd.args()[i].display(), expected[i]);
}

TEST(ProgramNameOf, LastComponentWhenValidUtf8) {
  struct Case {
    std::string arg0;
    std::optional<std::string> name;
  };
  const Case cases[] = {
      {"kiv", "kiv"},
      {"/usr/local/bin/kiv-launcher", "kiv-launcher"},
      {"dir/", "dir"},
      {"./x/.", "x"},
      {"a//b", "b"},
      {"name with space", "name with space"},
      {".hidden", ".hidden"},
      {"...", "..."},
      {"", std::nullopt},
      {".", std::nullopt},
      {"/", std::nullopt},
      {"a/..", std::nullopt},
      {"..", std::nullopt},
      {"bin/k\xFFv", std::nullopt},
      {"\xFF/kiv", "kiv"},  // only the last component must be text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg0);
    EXPECT_EQ(program_name_of(c.arg0), c.name);
  }
}

TEST(ForcesNextLine, FortyPercentInSinglePrecision) {
  struct Case {
    std::size_t taken, width, help;
    bool forced;
  };
  const Case cases[] = {
      {45, 100, 56, true},   // help does not fit beside the 45 columns
      {45, 100, 55, false},  // it fits exactly
      {45, 113, 161, false},  // 45/113 is below 40%
      {45, 112, 161, true},
      {45, 44, 161, false},  // narrower than the name column
      {28, 69, 42, true},
      {28, 70, 43, false},   // 28/70 is 0.4f exactly: not more than 40%
      {28, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.taken) + "/" + std::to_string(c.width) + " help " + std::to_string(c.help));
    EXPECT_EQ(forces_next_line(c.taken, c.width, c.help), c.forced);
  }
}

// Without before-help text and without any long help, --help renders like
// -h, and the help flag says only "Print help".
TEST(RenderHelp, SkeletonWithoutLongHelp) {
  Command cmd("tool");
  cmd.arg(Arg("quiet").short_name('q').long_name("quiet").help("Say less"))
      .arg(Arg("files").positional().action(ArgAction::Append).num_args({1, ValueRange::kUnbounded}).help("Inputs"))
      .after_help("Bye.")
      .build();
  const std::string expected =
      "Usage: tool [OPTIONS] [FILES]...\n"
      "\n"
      "Arguments:\n"
      "  [FILES]...  Inputs\n"
      "\n"
      "Options:\n"
      "  -q, --quiet  Say less\n"
      "  -h, --help   Print help\n"
      "\n"
      "Bye.\n";
  EXPECT_FALSE(cmd.long_help_exists());
  EXPECT_EQ(for_stream(render_help(cmd, false, 80), false), expected);
  EXPECT_EQ(for_stream(render_help(cmd, true, 80), false), expected);
}

TEST(CommandBuild, BrokenDefinitionsStopTheProcess) {
  auto build = [](Arg arg) {
    Command cmd("tool");
    cmd.arg(std::move(arg)).build();
  };
  EXPECT_EXIT(build(Arg("x").short_name('x').action(ArgAction::Set)), ::testing::ExitedWithCode(101),
              "short name of x on an option with values");
  EXPECT_EXIT(build(Arg("x").long_name("x").overrides_with({"nope"})), ::testing::ExitedWithCode(101),
              "override of unknown id nope");
  EXPECT_EXIT(build(Arg("x").short_name('h')), ::testing::ExitedWithCode(101), "-h, --help or the id help is taken");
  EXPECT_EXIT(build(Arg("x").long_name("x").action(ArgAction::Set).num_args({1, 3})), ::testing::ExitedWithCode(101),
              "unsupported number of values for x");
}

}  // namespace
}  // namespace kiv::cmdline
