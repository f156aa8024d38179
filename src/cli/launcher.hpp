// The entry point of kiv and the road of one invocation.
#pragma once

#include <string>
#include <vector>

#include "base/error.hpp"
#include "cli/args_kind.hpp"

namespace kiv {

/// Process start: SIGPIPE ignored, each closed descriptor of 0 to 2 opened on
/// /dev/null, standard output buffered by lines. Runs before anything else.
void prepare_process();

/// The whole of one invocation, given every process argument as raw bytes:
/// the status the process ends with, or the error to report. Steps that
/// print their own message (the root refusal, help and usage errors, the
/// askpass relay, a failed host re-run) give their status. Nothing here
/// ends the process.
[[nodiscard]] Outcome run_launcher(const std::vector<std::string>& args);

/// The open path, the end of run_launcher: assembles the request, starts the
/// pool and the threads, launches the editor, joins; the editor's reported
/// status, or 0 when it reported none.
[[nodiscard]] Outcome run_open_path(const ArgsKind& args, const std::string& editor_path);

/// Runs run_launcher and ends the process with its status, or with the
/// one-line "error: " report on standard error and status 1. The only place
/// that ends the process (besides a broken invariant).
[[noreturn]] void launcher_main(int argc, char** argv);

/// The askpass prompt built from the process arguments: those after the
/// first, joined with one NUL byte between neighbours.
std::string askpass_prompt_from_args(const std::vector<std::string>& args);

}  // namespace kiv
