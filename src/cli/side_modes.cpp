#include "cli/side_modes.hpp"

#include <unistd.h>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/text.hpp"
#include "cli/build_info.hpp"
#include "cli/command_line.hpp"
#include "cmdline/completion.hpp"
#include "release_channel/release_channel.hpp"
#include "util/path_text.hpp"

namespace kiv {
namespace {

std::string version_line(const std::string& channel, const std::string& editor_path) {
  std::string line = "Kiv ";
  if (channel != "stable") line += channel + " ";
  line += release_version();
  line += " ";
  line += commit_id();
  // The commit's trailing blank and the separator's leading one: two blanks
  // before the EN DASH.
  line += "  \u2013 ";
  line += utf8_lossy(editor_path);
  line += "\n";
  return line;
}

constexpr SideMode SIDE_MODES[] = {
    {"--completions", [](const ArgsKind& a) { return a.completions.has_value(); }, run_completions},
    {"--version", [](const ArgsKind& a) { return a.version; }, print_version},
    {"--system-specs", [](const ArgsKind& a) { return a.system_specs; }, refuse_system_specs},
    {"--uninstall", [](const ArgsKind& a) { return a.uninstall; }, run_uninstall},
};

}  // namespace

std::span<const SideMode> side_modes() { return SIDE_MODES; }

Outcome run_completions(const ArgsKind& args, const std::string&) {
  // The scripts complete the name kiv is installed under.
  KIV_TRY_ASSIGN(std::string exe, current_exe());
  auto name = file_name(exe);
  if (!name || !is_valid_utf8(*name)) return fail("--completions expects a UTF-8 name for cli bin");

  cmdline::Command cmd = define_command_line(cmdline::Command("kiv"));
  cmd.program_name(std::string(*name));
  cmd.build();
  std::string script;
  switch (*args.completions) {
    case CompletionShell::Bash: script = cmdline::bash_completion(cmd); break;
    case CompletionShell::Elvish: script = cmdline::elvish_completion(cmd); break;
    case CompletionShell::Fish: script = cmdline::fish_completion(cmd); break;
    case CompletionShell::Nushell: script = cmdline::nushell_completion(cmd); break;
    case CompletionShell::PowerShell: script = cmdline::powershell_completion(cmd); break;
    case CompletionShell::Zsh: script = cmdline::zsh_completion(cmd); break;
  }
  KIV_TRY(with_context(write_all(STDOUT_FILENO, script), "Writing the completion script"));
  return 0;
}

Outcome print_version(const ArgsKind&, const std::string& editor_path) {
  // Written straight to the descriptor so that a reader that went away, or a
  // full disk, is reported instead of lost in the flush at exit.
  KIV_TRY(with_context(write_all(STDOUT_FILENO, version_line(RELEASE_CHANNEL_NAME, editor_path)),
                       "Failed to write the version line"));
  return 0;
}

Outcome refuse_system_specs(const ArgsKind&, const std::string& editor_path) {
  return fail(
      "The `--system-specs` argument is not supported in the Kiv CLI, only on Kiv binary.\n"
      "To retrieve the system specs on the command line, run the following command:\n" +
      utf8_lossy(editor_path) + " --system-specs");
}

}  // namespace kiv
