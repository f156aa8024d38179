#include "cli/command_line.hpp"

#include <unistd.h>

#include "base/io.hpp"
#include "base/text.hpp"
#include "cmdline/parser.hpp"
#include "cmdline/render.hpp"

namespace kiv {
namespace {

using cmdline::Arg;
using cmdline::ArgAction;
using cmdline::ValueHint;
using cmdline::ValueParser;
using cmdline::ValueRange;

constexpr const char* kShellNames[] = {"bash", "elvish", "fish", "nushell", "powershell", "zsh"};

constexpr const char* kBeforeHelp =
    "The Kiv CLI binary.\n"
    "This CLI is a separate binary that invokes Kiv.\n"
    "\n"
    "Examples:\n"
    "    `kiv`\n"
    "          Simply opens Kiv\n"
    "    `kiv --foreground`\n"
    "          Runs in foreground (shows all logs)\n"
    "    `kiv path-to-your-project`\n"
    "          Open your project in Kiv\n"
    "    `kiv -n path-to-file `\n"
    "          Open file/folder in a new window";

constexpr const char* kAfterHelp = "To read from stdin, append '-', e.g. 'ps axf | kiv -'";

// The enumerated value parser of --completions: the shell's code.
std::expected<int, cmdline::ParseError> completion_shell_code(const cmdline::Command& cmd, const Arg* arg,
                                                              std::string_view value) {
  std::expected<CompletionShell, cmdline::ParseError> shell = parse_completion_shell(cmd, arg, value);
  if (!shell) return std::unexpected(std::move(shell).error());
  return static_cast<int>(*shell);
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Arg flag(std::string id, std::optional<char> short_name, std::string long_name, std::string help) {
  Arg arg(std::move(id));
  if (short_name) arg.short_name(*short_name);
  arg.long_name(std::move(long_name)).action(ArgAction::SetTrue).help(std::move(help));
  return arg;
}

Arg option(std::string id, std::string long_name, std::string help) {
  Arg arg(std::move(id));
  arg.long_name(std::move(long_name)).action(ArgAction::Set).num_args({1, 1}).help(std::move(help));
  return arg;
}

ArgsKind to_args_kind(const cmdline::Matches& m) {
  auto one = [&](std::string_view id) -> std::optional<std::string> {
    if (const std::string* value = m.get_one(id)) return *value;
    return std::nullopt;
  };
  auto many = [&](std::string_view id) {
    std::span<const std::string> values = m.get_many(id);
    return std::vector<std::string>(values.begin(), values.end());
  };
  ArgsKind args;
  args.wait = m.get_flag("wait");
  args.add = m.get_flag("add");
  args.new_ = m.get_flag("new");
  args.reuse = m.get_flag("reuse");
  args.existing = m.get_flag("existing");
  args.classic = m.get_flag("classic");
  args.user_data_dir = one("user_data_dir");
  args.paths_with_position = many("paths_with_position");
  args.version = m.get_flag("version");
  args.foreground = m.get_flag("foreground");
  args.kiv = one("kiv");
  args.dev_server_token = one("dev_server_token");
  args.system_specs = m.get_flag("system_specs");
  args.debug_state = m.get_flag("debug_state");
  args.dev_container = m.get_flag("dev_container");
  args.diff = many("diff");
  if (std::optional<int> code = m.get_code("completions")) args.completions = static_cast<CompletionShell>(*code);
  args.uninstall = m.get_flag("uninstall");
  args.askpass = one("askpass");
  return args;
}

}  // namespace

std::vector<std::string> completion_shell_value_names() { return {std::begin(kShellNames), std::end(kShellNames)}; }

std::expected<CompletionShell, cmdline::ParseError> parse_completion_shell(const cmdline::Command&, const Arg* arg,
                                                                        std::string_view value) {
  bool ignore_case = arg != nullptr && arg->is_ignore_case();
  if (is_valid_utf8(value)) {
    for (std::size_t code = 0; code < std::size(kShellNames); ++code) {
      std::string_view name = kShellNames[code];
      if (value == name || (ignore_case && equal_ignoring_ascii_case(value, name)))
        return static_cast<CompletionShell>(code);
    }
  }
  return std::unexpected(cmdline::invalid_value_error(arg, value, completion_shell_value_names()));
}

cmdline::Command define_command_line(cmdline::Command cmd) {
  static const char* const kIds[] = {"wait",         "add",           "new",
                                     "reuse",        "existing",      "classic",
                                     "user_data_dir", "paths_with_position", "version",
                                     "foreground",   "kiv",           "dev_server_token",
                                     "system_specs", "debug_state",   "dev_container",
                                     "diff",         "completions",   "uninstall",
                                     "askpass"};
  cmd.group({"ArgsKind", std::vector<std::string>(std::begin(kIds), std::end(kIds)), true, false});

  // The five open behaviours: the last one given wins.
  auto others = [](std::string_view self) {
    std::vector<std::string> ids;
    for (const char* id : {"add", "new", "reuse", "existing", "classic"})
      if (id != self) ids.emplace_back(id);
    return ids;
  };

  cmd.arg(flag("wait", 'w', "wait", "Wait for all of the given paths to be opened/closed before exiting")
              .long_help("Wait for all of the given paths to be opened/closed before exiting.\n\n"
                         "When opening a directory, waits until the created window is closed."));
  cmd.arg(flag("add", 'a', "add", "Add files to the currently open workspace").overrides_with(others("add")));
  cmd.arg(flag("new", 'n', "new", "Create a new workspace").overrides_with(others("new")));
  cmd.arg(flag("reuse", 'r', "reuse", "Reuse an existing window, replacing its workspace")
              .overrides_with(others("reuse"))
              .hidden());
  cmd.arg(flag("existing", 'e', "existing", "Open in existing Kiv window").overrides_with(others("existing")));
  cmd.arg(flag("classic", std::nullopt, "classic",
               "Use the classic open behavior: new window for directories, reuse for files")
              .overrides_with(others("classic"))
              .hidden());
  cmd.arg(option("user_data_dir", "user-data-dir",
                 "Sets a custom directory for all user data (e.g., database, extensions, logs). This overrides the "
                 "default platform-specific data directory location: `$XDG_DATA_HOME/kiv`")
              .value_names({"DIR"})
              .value_hint(ValueHint::DirPath));
  cmd.arg(Arg("paths_with_position")
              .positional()
              .action(ArgAction::Append)
              .num_args({1, ValueRange::kUnbounded})
              .trailing()
              .value_hint(ValueHint::AnyPath)
              .help("The paths to open in Kiv (space-separated)")
              .long_help("The paths to open in Kiv (space-separated).\n\n"
                         "Use `path:line:column` syntax to open a file at the given line and column."));
  cmd.arg(flag("version", 'v', "version", "Print Kiv's version and the app path"));
  cmd.arg(flag("foreground", std::nullopt, "foreground", "Run kiv in the foreground (useful for debugging)"));
  cmd.arg(option("kiv", "kiv", "Custom path to Kiv.app or the kiv binary").value_parser(ValueParser::path()));
  cmd.arg(option("dev_server_token", "dev-server-token", "Run kiv in dev-server mode"));
  cmd.arg(flag("system_specs", std::nullopt, "system-specs",
               "Not supported in Kiv CLI, only supported on Kiv binary Will attempt to give the correct command to run"));
  cmd.arg(flag("debug_state", std::nullopt, "debug-state",
               "Print a JSON snapshot of the running Kiv's KESU and platform state (windows, displays, frame "
               "scheduling, cursor), for debugging"));
  cmd.arg(flag("dev_container", std::nullopt, "dev-container", "Open the project in a dev container")
              .long_help("Open the project in a dev container.\n\n"
                         "Automatically triggers \"Reopen in Dev Container\" if a `.devcontainer/` configuration is "
                         "found in the project directory."));
  cmd.arg(Arg("diff")
              .long_name("diff")
              .action(ArgAction::Append)
              .num_args({2, 2})
              .value_names({"OLD_PATH", "NEW_PATH"})
              .value_hint(ValueHint::AnyPath)
              .help("Pairs of file paths to diff. Can be specified multiple times. When directories are provided, "
                    "recurses into them and shows all changed files in a single multi-diff view"));
  std::vector<cmdline::PossibleValue> shells;
  for (const char* name : kShellNames) shells.push_back({name});
  cmd.arg(option("completions", "completions", "Generate shell completions for Kiv")
              .value_names({"SHELL"})
              .value_parser(ValueParser::enumerated(std::move(shells), completion_shell_code)));
  cmd.arg(flag("uninstall", std::nullopt, "uninstall", "Uninstall Kiv from user system"));
  cmd.arg(option("askpass", "askpass",
                 "Used for SSH/Git password authentication, to remove the need for netcat as a dependency, by having "
                 "Kiv act like netcat communicating over a Unix socket")
              .hidden());

  cmd.disable_version_flag();
  cmd.before_help(kBeforeHelp);
  cmd.after_help(kAfterHelp);
  return cmd;
}

std::variant<ArgsKind, CommandLineExit> parse_command_line(const std::vector<std::string>& raw_args,
                                                          const RenderSettingsFor& settings) {
  cmdline::Command cmd = define_command_line(cmdline::Command("kiv"));
  if (!raw_args.empty()) {
    if (std::optional<std::string> name = cmdline::program_name_of(raw_args.front())) cmd.program_name(*name);
  }
  cmd.build();

  auto parsed = cmdline::parse(cmd, raw_args);
  if (parsed) return to_args_kind(*parsed);
  if (const auto* help = std::get_if<cmdline::HelpRequest>(&parsed.error())) {
    cmdline::RenderSettings s = settings(cmdline::Stream::Stdout);
    return CommandLineExit{cmdline::Stream::Stdout,
                           cmdline::for_stream(cmdline::render_help(cmd, help->long_help, s.width), s.colour), 0};
  }
  cmdline::RenderSettings s = settings(cmdline::Stream::Stderr);
  const auto& error = std::get<cmdline::ParseError>(parsed.error());
  return CommandLineExit{cmdline::Stream::Stderr, cmdline::for_stream(cmdline::render_error(cmd, error), s.colour), 2};
}

std::expected<ArgsKind, ExitStatus> parse_command_line_or_report(const std::vector<std::string>& raw_args) {
  std::variant<ArgsKind, CommandLineExit> result = parse_command_line(raw_args, cmdline::detect_render_settings);
  if (auto* args = std::get_if<ArgsKind>(&result)) return std::move(*args);
  const CommandLineExit& end = std::get<CommandLineExit>(result);
  int fd = end.stream == cmdline::Stream::Stdout ? STDOUT_FILENO : STDERR_FILENO;
  // Help into a closed pipe still ends with 0, an error with 2.
  (void)write_all(fd, end.text);
  return std::unexpected(end.status);
}

}  // namespace kiv
