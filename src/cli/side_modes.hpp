// The side modes: answers kiv gives without opening anything in the editor.
#pragma once

#include <span>
#include <string>

#include "base/error.hpp"
#include "cli/args_kind.hpp"

namespace kiv {

/// One side mode: the option that asks for it, how the parsed command line
/// says it was asked for, and what it does, which ends the invocation.
struct SideMode {
  const char* option;
  bool (*asked)(const ArgsKind& args);
  Outcome (*run)(const ArgsKind& args, const std::string& editor_path);
};

/// Writes the completion script for the shell given with --completions; 0.
[[nodiscard]] Outcome run_completions(const ArgsKind& args, const std::string& editor_path);
/// Writes the version line: "Kiv {channel }{version} {commit}  – {editor
/// path}", the channel part left out for "stable"; 0.
[[nodiscard]] Outcome print_version(const ArgsKind& args, const std::string& editor_path);
/// Always fails, pointing at the editor's own --system-specs.
[[nodiscard]] Outcome refuse_system_specs(const ArgsKind& args, const std::string& editor_path);
/// Runs the uninstall script: its exit code, 1 when a signal ended it.
[[nodiscard]] Outcome run_uninstall(const ArgsKind& args, const std::string& editor_path);

/// The side modes in the order they are tried; the first one asked for runs.
std::span<const SideMode> side_modes();

}  // namespace kiv
