// kiv's command line: its definition, the parse into ArgsKind, and the
// printing of help and usage errors.
#pragma once

#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/error.hpp"
#include "cli/args_kind.hpp"
#include "cmdline/command.hpp"
#include "cmdline/parse_error.hpp"
#include "cmdline/terminal.hpp"

namespace kiv {

/// `cmd` (created by the caller with the name "kiv") extended with kiv's
/// definition, in this order: the group "ArgsKind" of all 19 argument ids,
/// the 19 arguments, the version-flag switch (off), the before-help and the
/// after-help text. Cannot fail; the result still needs build().
cmdline::Command define_command_line(cmdline::Command cmd);

/// The names of the CompletionShell values, in code order: "bash",
/// "elvish", "fish", "nushell", "powershell", "zsh".
std::vector<std::string> completion_shell_value_names();

/// The shell that `value` names. `arg` is the --completions argument (its
/// ignore-case setting decides the matching; none means case-sensitive) and
/// names it in the error. Fails with the invalid-value usage error, which
/// lists the six names and suggests the most similar, for a value that is
/// not valid UTF-8 or not one of them.
[[nodiscard]] std::expected<CompletionShell, cmdline::ParseError> parse_completion_shell(const cmdline::Command& cmd,
                                                                                      const cmdline::Arg* arg,
                                                                                      std::string_view value);

/// A parse that ends the invocation: the text to write, where, and the
/// status to end with (help: standard output, 0; usage error: standard
/// error, 2).
struct CommandLineExit {
  cmdline::Stream stream = cmdline::Stream::Stdout;
  std::string text;
  int status = 0;
  bool operator==(const CommandLineExit&) const = default;
};

/// Width and colour for the stream about to be written; asked only when
/// help or an error is rendered.
using RenderSettingsFor = std::function<cmdline::RenderSettings(cmdline::Stream)>;

/// Parses every process argument (raw bytes, the program name first) into
/// ArgsKind, or renders the help or usage error that ends the invocation.
/// Touches no process state.
std::variant<ArgsKind, CommandLineExit> parse_command_line(const std::vector<std::string>& raw_args,
                                                          const RenderSettingsFor& settings);

/// parse_command_line with this process's terminals and environment. Help
/// and usage errors are written (a failed write is ignored) and give the
/// status the invocation ends with, 0 or 2, in place of the ArgsKind.
std::expected<ArgsKind, ExitStatus> parse_command_line_or_report(const std::vector<std::string>& raw_args);

}  // namespace kiv
