// kiv's command line: the parse into ArgsKind, every usage error and the
// help output (compared byte for byte), then the same on the built kiv.
#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "base/text.hpp"
#include "cmdline/parser.hpp"
#include "cmdline/render.hpp"
#include "cmdline/styled.hpp"
#include "test_support.hpp"

// The expected ArgsKind values name only the fields that differ from the
// defaults; the others are value-initialised as intended.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kiv {

void PrintTo(const ArgsKind& a, std::ostream* os) {
  auto list = [](const std::vector<std::string>& v) {
    std::string s = "[";
    for (const auto& x : v) s += (s.size() > 1 ? ", " : "") + debug_quoted(x);
    return s + "]";
  };
  auto opt = [](const std::optional<std::string>& v) { return v ? debug_quoted(*v) : std::string("none"); };
  *os << "{wait=" << a.wait << " add=" << a.add << " new=" << a.new_ << " reuse=" << a.reuse
      << " existing=" << a.existing << " classic=" << a.classic << " user_data_dir=" << opt(a.user_data_dir)
      << " paths=" << list(a.paths_with_position) << " version=" << a.version << " foreground=" << a.foreground
      << " kiv=" << opt(a.kiv) << " dev_server_token=" << opt(a.dev_server_token)
      << " system_specs=" << a.system_specs << " debug_state=" << a.debug_state
      << " dev_container=" << a.dev_container << " diff=" << list(a.diff)
      << " completions=" << (a.completions ? static_cast<int>(*a.completions) : -1) << " uninstall=" << a.uninstall
      << " askpass=" << opt(a.askpass) << "}";
}

namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

std::string trace_of(const Words& words) {
  std::string s = "kiv";
  for (const auto& w : words) s += " " + debug_quoted(w);
  return s;
}

std::variant<ArgsKind, CommandLineExit> parse(const Words& words, std::size_t width = 100, bool colour = false,
                                              const std::string& arg0 = "kiv") {
  Words raw = {arg0};
  raw.insert(raw.end(), words.begin(), words.end());
  return parse_command_line(raw, [&](cmdline::Stream) { return cmdline::RenderSettings{width, colour}; });
}

std::string golden(const std::string& name) { return testing::read_file(std::string(KIV_GOLDEN_DIR) + "/" + name); }

const std::string kPlainUsage = "Usage: kiv [OPTIONS] [PATHS_WITH_POSITION]...";
const std::string kGroupUsage =
    "<--wait|--add|--new|--reuse|--existing|--classic|--user-data-dir <DIR>|PATHS_WITH_POSITION|--version|"
    "--foreground|--kiv <KIV>|--dev-server-token <DEV_SERVER_TOKEN>|--system-specs|--debug-state|--dev-container|"
    "--diff <OLD_PATH> <NEW_PATH>|--completions <SHELL>|--uninstall|--askpass <ASKPASS>>";
const std::string kTail = "\n\nFor more information, try '--help'.\n";
const std::string kShells = "\n  [possible values: bash, elvish, fish, nushell, powershell, zsh]";

std::string unknown(const std::string& arg, const std::string& usage, const std::string& similar = "") {
  std::string tips = similar.empty() ? "\n" : "\n\n  tip: a similar argument exists: '" + similar + "'";
  return "error: unexpected argument '" + arg + "' found" + tips + "\n  tip: to pass '" + arg +
         "' as a value, use '-- " + arg + "'\n\n" + usage + kTail;
}

std::string with_usage(const std::string& message, const std::string& usage = kPlainUsage) {
  return "error: " + message + "\n\n" + usage + kTail;
}

TEST(ParseCommandLine, WordsToArgsKind) {
  struct Case {
    Words words;
    ArgsKind expected;
  };
  const Case cases[] = {
      {{}, {}},
      // Flags, long and short, alone and in clusters.
      {{"-w"}, {.wait = true}},
      {{"--wait"}, {.wait = true}},
      {{"-wn", "x"}, {.wait = true, .new_ = true, .paths_with_position = {"x"}}},
      {{"-v"}, {.version = true}},
      {{"--version"}, {.version = true}},
      {{"--foreground", "--system-specs", "--debug-state", "--dev-container", "--uninstall"},
       {.foreground = true, .system_specs = true, .debug_state = true, .dev_container = true, .uninstall = true}},
      // The open behaviours: the last one given wins, never an error.
      {{"-a", "-n", "x"}, {.new_ = true, .paths_with_position = {"x"}}},
      {{"-n", "-a", "x"}, {.add = true, .paths_with_position = {"x"}}},
      {{"-a", "-n", "-a"}, {.add = true}},
      {{"-an"}, {.new_ = true}},
      {{"--reuse", "x"}, {.reuse = true, .paths_with_position = {"x"}}},
      {{"-r", "-e"}, {.existing = true}},
      {{"-e", "--classic"}, {.classic = true}},
      {{"--classic", "-w", "-a"}, {.wait = true, .add = true}},
      // One-value options: after "=" or as the next word.
      {{"--user-data-dir", "d"}, {.user_data_dir = "d"}},
      {{"--user-data-dir=d"}, {.user_data_dir = "d"}},
      {{"--user-data-dir=-x"}, {.user_data_dir = "-x"}},
      {{"--user-data-dir=a=b"}, {.user_data_dir = "a=b"}},
      {{"--user-data-dir="}, {.user_data_dir = ""}},
      {{"--user-data-dir", "-"}, {.user_data_dir = "-"}},
      {{"--user-data-dir", "a,b"}, {.user_data_dir = "a,b"}},
      {{"--user-data-dir", "d", "x"}, {.user_data_dir = "d", .paths_with_position = {"x"}}},
      {{"--kiv", "/opt/kiv"}, {.kiv = "/opt/kiv"}},
      {{"--kiv", "/opt/\xFF\xFE"}, {.kiv = "/opt/\xFF\xFE"}},  // a path keeps its bytes
      {{"--dev-server-token", ""}, {.dev_server_token = ""}},
      {{"--askpass", "/tmp/s"}, {.askpass = "/tmp/s"}},
      {{"--completions", "zsh"}, {.completions = CompletionShell::Zsh}},
      {{"--completions=bash"}, {.completions = CompletionShell::Bash}},
      // Positional values and trailing mode.
      {{"-"}, {.paths_with_position = {"-"}}},
      {{""}, {.paths_with_position = {""}}},
      {{"help"}, {.paths_with_position = {"help"}}},
      {{"x", "--wait"}, {.paths_with_position = {"x", "--wait"}}},
      {{"x", "-h", "--help", "-V", "--wai", "-n"}, {.paths_with_position = {"x", "-h", "--help", "-V", "--wai", "-n"}}},
      {{"x", "--", "y"}, {.paths_with_position = {"x", "--", "y"}}},
      {{"--", "-x"}, {.paths_with_position = {"-x"}}},
      {{"--", "--"}, {.paths_with_position = {"--"}}},
      {{"-w", "--", "-w"}, {.wait = true, .paths_with_position = {"-w"}}},
      // Diff pairs.
      {{"--diff", "a", "b", "--diff", "c", "d", "e"}, {.paths_with_position = {"e"}, .diff = {"a", "b", "c", "d"}}},
      {{"x", "--diff", "a", "b"}, {.paths_with_position = {"x", "--diff", "a", "b"}}},
      {{"--diff", "-", "-"}, {.diff = {"-", "-"}}},
      {{"--diff", "a", "b", "--", "c"}, {.paths_with_position = {"c"}, .diff = {"a", "b"}}},
      {{"--diff", "a", "b", "-w"}, {.wait = true, .diff = {"a", "b"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace_of(c.words));
    auto result = parse(c.words);
    ASSERT_TRUE(std::holds_alternative<ArgsKind>(result)) << std::get<CommandLineExit>(result).text;
    EXPECT_EQ(std::get<ArgsKind>(result), c.expected);
  }
}

TEST(ParseCommandLine, ProgramNameIsNeverParsed) {
  auto result = parse_command_line({"--wait"}, [](cmdline::Stream) { return cmdline::RenderSettings{}; });
  EXPECT_EQ(std::get<ArgsKind>(result), ArgsKind{});
  result = parse_command_line({}, [](cmdline::Stream) { return cmdline::RenderSettings{}; });
  EXPECT_EQ(std::get<ArgsKind>(result), ArgsKind{});
}

TEST(ParseCommandLine, UsageErrors) {
  struct Case {
    Words words;
    std::string text;
  };
  const std::string ud = "--user-data-dir <DIR>";
  const Case cases[] = {
      // Unknown arguments: long ones get the similar name, short ones never.
      {{"-V"}, unknown("-V", kPlainUsage)},
      {{"-x"}, unknown("-x", kPlainUsage)},
      {{"-wx"}, unknown("-x", kPlainUsage)},
      {{"-5"}, unknown("-5", kPlainUsage)},
      {{"-w=1"}, unknown("-=", kPlainUsage)},
      {{"-w\xFFq"}, unknown("-\xEF\xBF\xBDq", kPlainUsage)},
      {{"--xyz"}, unknown("--xyz", kPlainUsage)},
      {{"--xyz=1"}, unknown("--xyz", kPlainUsage)},
      {{"--=x"}, unknown("--", kPlainUsage)},
      {{"--\xFFx"}, unknown("--\xEF\xBF\xBDx", kPlainUsage)},
      {{"-w", "--xyz"}, unknown("--xyz", "Usage: kiv --wait [PATHS_WITH_POSITION]...")},
      {{"--wai"}, unknown("--wai", "Usage: kiv --wait [PATHS_WITH_POSITION]...", "--wait")},
      {{"--wiat"}, unknown("--wiat", "Usage: kiv --wait [PATHS_WITH_POSITION]...", "--wait")},
      {{"-e", "--wai"}, unknown("--wai", "Usage: kiv --existing --wait [PATHS_WITH_POSITION]...", "--wait")},
      {{"--fore"}, unknown("--fore", "Usage: kiv --foreground [PATHS_WITH_POSITION]...", "--foreground")},
      {{"--dev"}, unknown("--dev", "Usage: kiv --dev-container [PATHS_WITH_POSITION]...", "--dev-container")},
      {{"-a", "--new-window"}, unknown("--new-window", "Usage: kiv --new [PATHS_WITH_POSITION]...", "--new")},
      {{"--hepl"}, unknown("--hepl", "Usage: kiv --help [PATHS_WITH_POSITION]...", "--help")},
      // A hidden suggestion is named but stays out of the usage line, and
      // the open behaviour it overrides is gone from it too.
      {{"-n", "--reus"}, unknown("--reus", kPlainUsage, "--reuse")},
      {{"--as"}, unknown("--as", kPlainUsage, "--askpass")},
      {{"--user-data-dir", "a", "--user-data-dir", "b", "--wai"},
       unknown("--wai", "Usage: kiv --wait [PATHS_WITH_POSITION]...", "--wait")},
      {{"--user-data-dir", "a", "--wait", "--xyz"},
       unknown("--xyz", "Usage: kiv --user-data-dir <DIR> --wait [PATHS_WITH_POSITION]...")},
      {{"--user-data-dir", "-x"}, unknown("-x", kPlainUsage)},
      {{"--bogus", "-h"}, unknown("--bogus", kPlainUsage)},
      // Repeated flags and one-value options.
      {{"-w", "-w"}, with_usage("the argument '--wait' cannot be used multiple times")},
      {{"-ww"}, with_usage("the argument '--wait' cannot be used multiple times")},
      {{"-a", "-a"}, with_usage("the argument '--add' cannot be used multiple times")},
      {{"--user-data-dir", "a", "--user-data-dir", "b"},
       with_usage("the argument '--user-data-dir <DIR>' cannot be used multiple times")},
      {{"--askpass", "a", "--askpass=b"}, with_usage("the argument '--askpass <ASKPASS>' cannot be used multiple times")},
      {{"--kiv", "a", "--kiv", "b"}, with_usage("the argument '--kiv <KIV>' cannot be used multiple times")},
      // Missing values.
      {{"--user-data-dir"}, "error: a value is required for '" + ud + "' but none was supplied" + kTail},
      {{"--user-data-dir", "-w"}, "error: a value is required for '" + ud + "' but none was supplied" + kTail},
      {{"--user-data-dir", "--", "x"}, "error: a value is required for '" + ud + "' but none was supplied" + kTail},
      {{"--kiv", ""}, "error: a value is required for '--kiv <KIV>' but none was supplied" + kTail},
      {{"--kiv="}, "error: a value is required for '--kiv <KIV>' but none was supplied" + kTail},
      {{"--completions"}, "error: a value is required for '--completions <SHELL>' but none was supplied" + kShells + kTail},
      {{"--completions", ""},
       "error: a value is required for '--completions <SHELL>' but none was supplied" + kShells + kTail},
      {{"--completions=bash", "--completions"},
       "error: a value is required for '--completions <SHELL>' but none was supplied" + kShells + kTail},
      {{"--diff", "a"}, with_usage("2 values required for '--diff <OLD_PATH> <NEW_PATH>' but 1 was provided")},
      {{"--diff=a"}, with_usage("2 values required for '--diff <OLD_PATH> <NEW_PATH>' but 1 was provided")},
      {{"--diff", "a", "-h"}, with_usage("2 values required for '--diff <OLD_PATH> <NEW_PATH>' but 1 was provided")},
      {{"--diff", "a", "--", "b"}, with_usage("2 values required for '--diff <OLD_PATH> <NEW_PATH>' but 1 was provided")},
      {{"--diff", "a", "-b"}, unknown("-b", kPlainUsage)},
      // Values of the wrong kind.
      {{"--completions", "Bash"},
       "error: invalid value 'Bash' for '--completions <SHELL>'" + kShells + "\n\n  tip: a similar value exists: 'bash'" +
           kTail},
      {{"--completions", "ZSH"}, "error: invalid value 'ZSH' for '--completions <SHELL>'" + kShells + kTail},
      {{"--completions", "a\xFF" "b"},
       "error: invalid value 'a\xEF\xBF\xBD" "b' for '--completions <SHELL>'" + kShells + kTail},
      {{"--completions", "Bash", "--completions", "zsh"},
       "error: invalid value 'Bash' for '--completions <SHELL>'" + kShells + "\n\n  tip: a similar value exists: 'bash'" +
           kTail},
      {{"\xFF"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      {{"x", "y\xC3"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      {{"--user-data-dir", "\xFF"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      {{"--dev-server-token=\xFF"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      {{"--askpass", "\xFF"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      {{"--diff", "a", "\xFF"}, with_usage("invalid UTF-8 was detected in one or more arguments")},
      // A flag given a value.
      {{"--wait=1"}, with_usage("unexpected value '1' for '--wait' found; no more were expected",
                                "Usage: kiv --wait [PATHS_WITH_POSITION]...")},
      {{"--wait="}, with_usage("unexpected value '' for '--wait' found; no more were expected",
                               "Usage: kiv --wait [PATHS_WITH_POSITION]...")},
      {{"--reuse=1"}, with_usage("unexpected value '1' for '--reuse' found; no more were expected",
                                 "Usage: kiv --reuse [PATHS_WITH_POSITION]...")},
      {{"--help=x"}, with_usage("unexpected value 'x' for '--help' found; no more were expected",
                                "Usage: kiv --help [PATHS_WITH_POSITION]...")},
      {{"-n", "--wait=1"},
       with_usage("unexpected value '1' for '--wait' found; no more were expected", "Usage: kiv " + kGroupUsage)},
      {{"-n", "--help=x"},
       with_usage("unexpected value 'x' for '--help' found; no more were expected", "Usage: kiv --help " + kGroupUsage)},
      {{"--user-data-dir", "a", "--wait=1"},
       with_usage("unexpected value '1' for '--wait' found; no more were expected",
                  "Usage: kiv --wait [PATHS_WITH_POSITION]...")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace_of(c.words));
    auto result = parse(c.words);
    ASSERT_TRUE(std::holds_alternative<CommandLineExit>(result));
    const auto& end = std::get<CommandLineExit>(result);
    EXPECT_EQ(end.stream, cmdline::Stream::Stderr);
    EXPECT_EQ(end.status, 2);
    EXPECT_EQ(end.text, c.text);
  }
}

TEST(ParseCommandLine, ErrorsInColour) {
  struct Case {
    Words words;
    std::string text;
  };
  const std::string tail = "\n\nFor more information, try '\x1b[1m--help\x1b[0m'.\n";
  const Case cases[] = {
      {{"--wai"},
       "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--wai\x1b[0m' found\n\n"
       "  \x1b[32mtip:\x1b[0m a similar argument exists: '\x1b[32m--wait\x1b[0m'\n"
       "  \x1b[32mtip:\x1b[0m to pass '\x1b[33m--wai\x1b[0m' as a value, use '\x1b[32m-- --wai\x1b[0m'\n\n"
       "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m \x1b[1m--wait\x1b[0m [PATHS_WITH_POSITION]..." + tail},
      {{"--completions", "Bash"},
       "\x1b[1m\x1b[31merror:\x1b[0m invalid value '\x1b[33mBash\x1b[0m' for '\x1b[1m--completions <SHELL>\x1b[0m'\n"
       "  [possible values: \x1b[32mbash\x1b[0m, \x1b[32melvish\x1b[0m, \x1b[32mfish\x1b[0m, \x1b[32mnushell\x1b[0m, "
       "\x1b[32mpowershell\x1b[0m, \x1b[32mzsh\x1b[0m]\n\n"
       "  \x1b[32mtip:\x1b[0m a similar value exists: '\x1b[32mbash\x1b[0m'" + tail},
      {{"--diff", "a"},
       "\x1b[1m\x1b[31merror:\x1b[0m \x1b[32m2\x1b[0m values required for '\x1b[1m--diff <OLD_PATH> <NEW_PATH>\x1b[0m' "
       "but \x1b[33m1\x1b[0m was provided\n\n"
       "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m [OPTIONS] [PATHS_WITH_POSITION]..." + tail},
      {{"--kiv", ""},
       "\x1b[1m\x1b[31merror:\x1b[0m a value is required for '\x1b[33m--kiv <KIV>\x1b[0m' but none was supplied" + tail},
      {{"-w", "-w"},
       "\x1b[1m\x1b[31merror:\x1b[0m the argument '\x1b[33m--wait\x1b[0m' cannot be used multiple times\n\n"
       "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m [OPTIONS] [PATHS_WITH_POSITION]..." + tail},
      {{"--user-data-dir", "d", "--wait", "--xyz"},
       "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--xyz\x1b[0m' found\n\n"
       "  \x1b[32mtip:\x1b[0m to pass '\x1b[33m--xyz\x1b[0m' as a value, use '\x1b[32m-- --xyz\x1b[0m'\n\n"
       "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m \x1b[1m--user-data-dir\x1b[0m <DIR> \x1b[1m--wait\x1b[0m "
       "[PATHS_WITH_POSITION]..." + tail},
      {{"-n", "--wait=1"},
       "\x1b[1m\x1b[31merror:\x1b[0m unexpected value '\x1b[33m1\x1b[0m' for '\x1b[1m--wait\x1b[0m' found; no more were "
       "expected\n\n\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m " + kGroupUsage + tail},
      // With colour the user's bytes go out as they are; without, their
      // control characters are removed.
      {{"--a\x01" "b"},
       "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--a\x01" "b\x1b[0m' found\n\n"
       "  \x1b[32mtip:\x1b[0m to pass '\x1b[33m--a\x01" "b\x1b[0m' as a value, use '\x1b[32m-- --a\x01" "b\x1b[0m'\n\n"
       "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkiv\x1b[0m [OPTIONS] [PATHS_WITH_POSITION]..." + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace_of(c.words));
    CommandLineExit end = std::get<CommandLineExit>(parse(c.words, 100, true));
    EXPECT_EQ(end.text, c.text);
    // The plain text is the coloured one with its escapes removed.
    EXPECT_EQ(std::get<CommandLineExit>(parse(c.words, 100, false)).text, cmdline::strip_styles(c.text));
  }
  EXPECT_EQ(std::get<CommandLineExit>(parse({"--a\x01" "b"})).text, unknown("--ab", kPlainUsage));
}

TEST(ParseCommandLine, UsageLinesNameTheProgramFromItsFirstArgument) {
  struct Case {
    std::string arg0;
    std::string name;
  };
  const Case cases[] = {
      {"/usr/local/bin/kiv-launcher", "kiv-launcher"},
      {"./x/.", "x"},
      {"", "kiv"},
      {"bin/k\xFFv", "kiv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg0);
    CommandLineExit end = std::get<CommandLineExit>(parse({"-w", "-w"}, 100, false, c.arg0));
    EXPECT_NE(end.text.find("\nUsage: " + c.name + " [OPTIONS] [PATHS_WITH_POSITION]...\n"), std::string::npos)
        << end.text;
  }
  CommandLineExit help = std::get<CommandLineExit>(parse({"-h"}, 100, false, "/opt/k2"));
  EXPECT_NE(help.text.find("\nUsage: k2 [OPTIONS] [PATHS_WITH_POSITION]...\n"), std::string::npos);
}

TEST(ParseCommandLine, HelpGolden) {
  struct Case {
    Words words;
    std::size_t width;
    bool colour;
    const char* file;
  };
  const Case cases[] = {
      {{"-h"}, 100, false, "help_short_w100.txt"},
      {{"--help"}, 100, false, "help_long_w100.txt"},
      {{"-h"}, 60, false, "help_short_w60.txt"},
      {{"--help"}, 60, false, "help_long_w60.txt"},
      {{"-h"}, 113, false, "help_short_w113.txt"},
      {{"-h"}, 40, false, "help_short_w40.txt"},
      {{"-h"}, 100, true, "help_short_w100_colour.txt"},
      {{"--help"}, 100, true, "help_long_w100_colour.txt"},
      // Help acts at its own word: what follows is never looked at.
      {{"-wh"}, 100, false, "help_short_w100.txt"},
      {{"-hx"}, 100, false, "help_short_w100.txt"},
      {{"-h=x"}, 100, false, "help_short_w100.txt"},
      {{"-h", "--bogus"}, 100, false, "help_short_w100.txt"},
      {{"--diff", "a", "b", "-h"}, 100, false, "help_short_w100.txt"},
      {{"-r", "--user-data-dir", "d", "--help", "-V"}, 100, false, "help_long_w100.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace_of(c.words) + " @" + std::to_string(c.width) + (c.colour ? " colour" : ""));
    auto result = parse(c.words, c.width, c.colour);
    ASSERT_TRUE(std::holds_alternative<CommandLineExit>(result));
    const auto& end = std::get<CommandLineExit>(result);
    EXPECT_EQ(end.stream, cmdline::Stream::Stdout);
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(end.text, golden(c.file));
  }
  // Colour changes no byte of the layout, at any width.
  for (std::size_t width : {0u, 20u, 45u, 69u, 70u, 80u, 112u, 113u, 200u}) {
    for (const char* flag : {"-h", "--help"}) {
      SCOPED_TRACE(std::string(flag) + " @" + std::to_string(width));
      EXPECT_EQ(cmdline::strip_styles(std::get<CommandLineExit>(parse({flag}, width, true)).text),
                std::get<CommandLineExit>(parse({flag}, width, false)).text);
    }
  }
}

TEST(ParseCompletionShell, SixNamesCaseSensitive) {
  cmdline::Command cmd = define_command_line(cmdline::Command("kiv"));
  cmd.build();
  const cmdline::Arg& arg = cmd.args()[*cmd.find_id("completions")];
  const std::vector<std::string> names = completion_shell_value_names();
  ASSERT_EQ(names, (std::vector<std::string>{"bash", "elvish", "fish", "nushell", "powershell", "zsh"}));
  for (std::size_t code = 0; code < names.size(); ++code) {
    SCOPED_TRACE(names[code]);
    EXPECT_EQ(parse_completion_shell(cmd, &arg, names[code]), static_cast<CompletionShell>(code));
  }
  auto error = parse_completion_shell(cmd, &arg, "Bash").error();
  EXPECT_EQ(error.kind, cmdline::ErrorKind::InvalidValue);
  EXPECT_EQ(error.argument, "--completions <SHELL>");
  EXPECT_EQ(error.possible_values, names);
  EXPECT_EQ(error.suggestion, "bash");
  // Without an argument the error names "..." and nothing ignores case.
  error = parse_completion_shell(cmd, nullptr, "ZSH").error();
  EXPECT_EQ(error.argument, "...");
  EXPECT_EQ(error.suggestion, std::nullopt);
  // An argument that ignores case matches ASCII case-insensitively.
  cmdline::Arg ignoring = cmdline::Arg("completions").long_name("completions").ignore_case();
  EXPECT_EQ(parse_completion_shell(cmd, &ignoring, "PowerShell"), CompletionShell::PowerShell);
  EXPECT_FALSE(parse_completion_shell(cmd, &ignoring, "b\xFF").has_value());
}

TEST(DefineCommandLine, WhatOnlyTheCompletionGeneratorsSee) {
  cmdline::Command cmd = define_command_line(cmdline::Command("kiv"));
  cmd.build();
  EXPECT_TRUE(cmd.is_version_flag_disabled());
  EXPECT_EQ(cmd.before_help()->size(), 320u);
  EXPECT_EQ(cmd.after_help()->size(), 53u);
  ASSERT_EQ(cmd.groups().size(), 1u);
  EXPECT_EQ(cmd.groups()[0].id, "ArgsKind");
  ASSERT_EQ(cmd.args().size(), 20u);  // the 19 and -h/--help
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < 19; ++i) ids.push_back(cmd.args()[i].id());
  EXPECT_EQ(cmd.groups()[0].members, ids);

  using cmdline::ValueHint;
  using cmdline::ValueType;
  struct Case {
    const char* id;
    ValueHint hint;
    ValueType type;
    bool hidden;
  };
  const Case cases[] = {
      {"reuse", ValueHint::Unknown, ValueType::Bool, true},
      {"classic", ValueHint::Unknown, ValueType::Bool, true},
      {"user_data_dir", ValueHint::DirPath, ValueType::Text, false},
      {"paths_with_position", ValueHint::AnyPath, ValueType::Text, false},
      {"kiv", ValueHint::Unknown, ValueType::Path, false},
      {"diff", ValueHint::AnyPath, ValueType::Text, false},
      {"completions", ValueHint::Unknown, ValueType::Enum, false},
      {"askpass", ValueHint::Unknown, ValueType::Text, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const cmdline::Arg& arg = cmd.args()[*cmd.find_id(c.id)];
    EXPECT_EQ(arg.value_hint(), c.hint);
    EXPECT_EQ(arg.value_parser().type, c.type);
    EXPECT_EQ(arg.is_hidden(), c.hidden);
  }
  EXPECT_TRUE(cmd.args()[*cmd.find_id("paths_with_position")].is_trailing());
  EXPECT_EQ(cmd.args()[*cmd.find_id("askpass")].value_names(), std::vector<std::string>{"ASKPASS"});
}

// The same on the built kiv: what reaches the streams and the status.
class CommandLineProcess : public ::testing::Test {
 protected:
  testing::RunOptions kiv(const Words& words) {
    return testing::kiv_run_options(home_.path(), words);
  }
  // A file for --kiv to name, so that the road gets past bundle detection.
  std::string editor() {
    testing::write_file(home_.sub("editor"), "");
    return home_.sub("editor");
  }
  testing::ScopedTempDir home_;
};

TEST_F(CommandLineProcess, HelpOnStandardOutputWithStatus0) {
  auto result = testing::run_process(kiv({"-h"}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, golden("help_short_w100.txt"));
  EXPECT_EQ(result.err, "");

  testing::RunOptions narrow = kiv({"--help"});
  narrow.env["COLUMNS"] = "60";
  result = testing::run_process(narrow);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, golden("help_long_w60.txt"));

  testing::RunOptions forced = kiv({"-h"});
  forced.env["CLICOLOR_FORCE"] = "1";
  result = testing::run_process(forced);
  EXPECT_EQ(result.out, golden("help_short_w100_colour.txt"));
}

TEST_F(CommandLineProcess, HelpIntoAClosedStreamStillEndsWith0) {
  testing::RunOptions closed = kiv({"--help"});
  closed.stdout_mode = testing::Stdio::Closed;
  auto result = testing::run_process(closed);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.term_signal, 0);
  EXPECT_EQ(result.err, "");

  // A pipe whose reader has gone: the shell waits for the reader to end
  // before starting kiv, so the write meets a closed pipe every time.
  testing::RunOptions pipe = kiv({});
  pipe.argv = {"/bin/bash", "-c", "exec 3> >(exit 0); wait $!; \"$0\" --help >&3; echo \"status $?\"",
               testing::kiv_binary()};
  result = testing::run_process(pipe);
  EXPECT_EQ(result.out, "status 0\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(CommandLineProcess, UsageErrorOnStandardErrorWithStatus2) {
  auto result = testing::run_process(kiv({"--wai"}));
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, unknown("--wai", "Usage: kiv --wait [PATHS_WITH_POSITION]...", "--wait"));

  // Through a link named otherwise, with an argument that is not UTF-8.
  fs::create_symlink(testing::kiv_binary(), home_.sub("kiv-launcher"));
  testing::RunOptions linked = kiv({"x", "\xFF"});
  linked.argv[0] = home_.sub("kiv-launcher");
  result = testing::run_process(linked);
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.err, with_usage("invalid UTF-8 was detected in one or more arguments",
                                   "Usage: kiv-launcher [OPTIONS] [PATHS_WITH_POSITION]..."));
}

TEST_F(CommandLineProcess, UserDataDirIsCreatedThenTheRoadGoesOn) {
  fs::create_directories(home_.sub("exists"));
  struct Case {
    std::string dir;
    std::string created;
  };
  const Case cases[] = {
      {"relative", home_.sub("relative")},
      {"several/levels/deep", home_.sub("several/levels/deep")},
      {home_.sub("abs/dir"), home_.sub("abs/dir")},
      {"exists", home_.sub("exists")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    // The road goes on to the editor (the stand-in beside the built kiv),
    // which is handed the directory exactly as typed.
    auto result = testing::run_process(kiv({"--user-data-dir", c.dir, "file"}));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("user data dir: " + c.dir + "\n"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::is_directory(c.created));
  }

  testing::write_file(home_.sub("plain-file"), "x");
  auto result = testing::run_process(kiv({"--user-data-dir", "plain-file", "--kiv", editor()}));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "error: failed to create custom data directory: File exists (os error 17)\n");
  EXPECT_EQ(testing::read_file(home_.sub("plain-file")), "x");
}

TEST_F(CommandLineProcess, SideModesAreParsedAndReachTheirStep) {
  // --completions comes first: the script alone, no version line.
  auto result = testing::run_process(kiv({"--completions", "zsh", "--version", "--kiv", editor()}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out.rfind("#compdef kiv\n", 0), 0u) << result.out;
  EXPECT_TRUE(result.out.ends_with("  compdef _kiv 'kiv'\nfi\n")) << result.out;
  result = testing::run_process(kiv({"-v", "--kiv", editor()}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.out.starts_with("Kiv ")) << result.out;
}

TEST_F(CommandLineProcess, AskpassSocketSetMeansNoHelp) {
  testing::RunOptions options = kiv({"--help"});
  options.env["KIV_ASKPASS_SOCKET"] = home_.sub("askpass.sock");
  auto result = testing::run_process(options);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.find("Usage:"), std::string::npos) << result.err;
  EXPECT_NE(result.exit_code, 2);

  // A value that is not UTF-8 counts as unset: the command line is parsed.
  options.env["KIV_ASKPASS_SOCKET"] = "\xFF";
  result = testing::run_process(options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, golden("help_long_w100.txt"));
}

}  // namespace
}  // namespace kiv
