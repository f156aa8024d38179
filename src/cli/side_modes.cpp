#include "cli/side_modes.hpp"

#include <unistd.h>

#include "base/io.hpp"
#include "base/text.hpp"
#include "cli/bundle.hpp"
#include "cli/command_line.hpp"
#include "cmdline/completion.hpp"

namespace kiv {
namespace {

Status not_built(const char* feature) { return fail(std::string(feature) + " is not built yet"); }

constexpr SideMode SIDE_MODES[] = {
    {"--completions", [](const ArgsKind& a) { return a.completions.has_value(); }, run_completions},
    {"--version", [](const ArgsKind& a) { return a.version; }, print_version},
    {"--system-specs", [](const ArgsKind& a) { return a.system_specs; }, refuse_system_specs},
    {"--uninstall", [](const ArgsKind& a) { return a.uninstall; }, run_uninstall},
};

}  // namespace

std::span<const SideMode> side_modes() { return SIDE_MODES; }

Status run_completions(const ArgsKind& args, const std::string&) {
  // The scripts complete the name kiv is installed under.
  KIV_TRY_ASSIGN(std::string exe, current_exe());
  std::size_t slash = exe.rfind('/');
  std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || !is_valid_utf8(name))
    return fail("--completions expects a UTF-8 name for cli bin");

  cmdline::Command cmd = define_command_line(cmdline::Command("kiv"));
  cmd.program_name(name);
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
  return with_context(write_all(STDOUT_FILENO, script), "Writing the completion script");
}
Status print_version(const ArgsKind&, const std::string&) { return not_built("--version"); }
Status refuse_system_specs(const ArgsKind&, const std::string&) { return not_built("--system-specs"); }
Status run_uninstall(const ArgsKind&, const std::string&) { return not_built("--uninstall"); }

}  // namespace kiv
