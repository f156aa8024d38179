// Shell completion scripts for a built Command. Each generator reads only
// the definition (every argument, hidden ones and the help flag included)
// and names the command by its display name, so a different definition or
// an installed copy under another name gets its own correct script.
#pragma once

#include <string>

#include "cmdline/command.hpp"

namespace kiv::cmdline {

/// A bash function registered with `complete -F`. It uses bash-completion's
/// file helpers when they are loaded and plain compgen otherwise.
std::string bash_completion(const Command& cmd);
/// An arg-completer for elvish's line editor.
std::string elvish_completion(const Command& cmd);
/// `complete -c` lines for fish.
std::string fish_completion(const Command& cmd);
/// An `export extern` signature for nushell, in a module of its own.
std::string nushell_completion(const Command& cmd);
/// A native argument completer for PowerShell.
std::string powershell_completion(const Command& cmd);
/// A `#compdef` function using `_arguments`, for zsh's completion system.
std::string zsh_completion(const Command& cmd);

}  // namespace kiv::cmdline
