// File-system steps with the error an OS call gives.
#pragma once

#include <string>

#include "base/error.hpp"

namespace kiv {

/// Creates `path` and every missing parent, each with 0777 before the umask.
/// An existing directory is no error; an existing non-directory fails with
/// the OS error of mkdir (EEXIST), like `mkdir -p` would not.
[[nodiscard]] Status create_dir_all(const std::string& path);

/// The canonical absolute path (realpath): links resolved, no "." or "..".
[[nodiscard]] Result<std::string> canonicalize(const std::string& path);

/// Whether `path`, links followed, is a directory (false when it cannot be
/// examined).
bool is_directory(const std::string& path);

/// The working directory.
[[nodiscard]] Result<std::string> current_dir();

/// The running executable's path: the target of /proc/self/exe. Without
/// /proc: "no /proc/self/exe available. Is /proc mounted?".
[[nodiscard]] Result<std::string> current_exe();

/// `dir` and `name` joined with one separator: none added when `dir` ends in
/// one, and `name` alone when `dir` is empty.
std::string join_path(std::string_view dir, std::string_view name);

}  // namespace kiv
