// Completing a command line in a real shell with a completion script
// loaded, each shell driven through its own completion interface.
#pragma once

#include <string>
#include <vector>

namespace kiv::testing {

enum class Shell {
  Bash,             // the completion function as bash calls it, plain bash
  BashWithHelpers,  // the same with bash-completion loaded
  Zsh,              // Tab in an interactive zsh with compinit, on a pty
  Fish,             // complete -C
  Elvish,           // the arg-completer and elvish's own prefix matcher, on a pty
  Nushell,          // nu --ide-complete on the loaded module
};

std::string shell_name(Shell shell);

/// The --completions value of a shell.
std::string completions_value(Shell shell);

/// The candidates `shell` offers for `line` (the cursor at its end) with
/// `script` loaded, in `cwd`; `home` holds the shell's own files. Sorted,
/// without duplicates and without the "/" some shells put after directory
/// names. A shell that fails, or does not finish within its time limit,
/// fails the test and yields {"<failed>"}.
std::vector<std::string> complete_line(Shell shell, const std::string& script, const std::string& line,
                                       const std::string& cwd, const std::string& home);

/// The candidates with the text up to the first "=" removed from each one
/// that has it, for lines that complete "--name=": some shells answer
/// "value", others "--name=value".
std::vector<std::string> after_equals(std::vector<std::string> candidates);

/// The nu binary the project's setup installs.
std::string nu_binary();

}  // namespace kiv::testing
