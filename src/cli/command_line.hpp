// kiv's command line: its definition and the parse into ArgsKind.
#pragma once

#include <string>
#include <vector>

#include "cli/args_kind.hpp"

namespace kiv {

/// Parses every process argument (raw bytes, the program name first) into
/// ArgsKind. Help ends the process with status 0 and a usage error with
/// status 2; the parser prints both.
ArgsKind parse_command_line_or_exit(const std::vector<std::string>& raw_args);

}  // namespace kiv
