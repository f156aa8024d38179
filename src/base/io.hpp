// Whole-buffer reads and writes on descriptors.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv {

/// Writes all of `data` to `fd`: EINTR is retried and partial writes are
/// continued. A write that takes nothing fails with "failed to write whole
/// buffer"; any other failure is the OS error.
[[nodiscard]] Status write_all(int fd, std::string_view data);

/// Writes `first` and then `second` to `fd` as write_all does, in one
/// gathered write when the descriptor takes it all at once.
[[nodiscard]] Status write_all(int fd, std::string_view first, std::string_view second);

/// Reads `fd` to its end, appending to `out`. EINTR is retried.
[[nodiscard]] Status read_to_end(int fd, std::string& out);

/// Flushes standard output (a failure is not reported) and ends the process
/// with `status`, running no further clean-up.
[[noreturn]] void exit_process(int status);

}  // namespace kiv
