// The side modes: answers kiv gives without opening anything in the editor.
#pragma once

#include <span>
#include <string>

#include "base/error.hpp"
#include "cli/args_kind.hpp"

namespace kiv {

/// One side mode: the option that asks for it, how the parsed command line
/// says it was asked for, and what it does. A mode that returns success ends
/// the invocation with status 0; an error goes to the entry point.
struct SideMode {
  const char* option;
  bool (*asked)(const ArgsKind& args);
  Status (*run)(const ArgsKind& args, const std::string& editor_path);
};

/// Writes the completion script for the shell given with --completions.
[[nodiscard]] Status run_completions(const ArgsKind& args, const std::string& editor_path);
/// Writes the version line: "Kiv {channel }{version} {commit}  – {editor
/// path}", the channel part left out for "stable".
[[nodiscard]] Status print_version(const ArgsKind& args, const std::string& editor_path);
/// Always fails, pointing at the editor's own --system-specs.
[[nodiscard]] Status refuse_system_specs(const ArgsKind& args, const std::string& editor_path);
/// Runs the uninstall script and ends the process with its status.
[[nodiscard]] Status run_uninstall(const ArgsKind& args, const std::string& editor_path);

/// The side modes in the order they are tried; the first one asked for runs.
std::span<const SideMode> side_modes();

}  // namespace kiv
