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

/// The whole of one invocation, given every process argument as raw bytes.
/// Several steps end the process themselves instead of returning.
[[nodiscard]] Status run_launcher(const std::vector<std::string>& args);

/// Steps 11 and 12 of run_launcher: assembles the request, starts the pool
/// and the threads, launches the editor, joins, and ends the process with
/// the editor's reported status when there is one.
[[nodiscard]] Status run_open_path(const ArgsKind& args, const std::string& editor_path);

/// Runs run_launcher and ends the process: status 0 on success, else the
/// one-line "error: " report on standard error and status 1.
[[noreturn]] void launcher_main(int argc, char** argv);

/// The askpass prompt built from the process arguments: those after the
/// first, joined with one NUL byte between neighbours.
std::string askpass_prompt_from_args(const std::vector<std::string>& args);


}  // namespace kiv
