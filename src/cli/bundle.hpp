// Finding the editor executable.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "base/error.hpp"

namespace kiv {

/// Where the editor is looked for, relative to the launcher's directory.
inline constexpr std::array<const char*, 3> BUNDLE_CANDIDATES = {"../libexec/kiv-editor", "../lib/kiv/kiv-editor",
                                                                 "./kiv"};

/// The canonical path of the editor executable: `kiv` (the --kiv value) when
/// given, else the first of BUNDLE_CANDIDATES beside `launcher_exe` that
/// exists and is not the launcher itself. Errors carry "Bundle detection".
[[nodiscard]] Result<std::string> detect_bundle_from(const std::optional<std::string>& kiv,
                                                     const std::string& launcher_exe);

/// detect_bundle_from with the launcher's own path from /proc/self/exe.
[[nodiscard]] Result<std::string> detect_bundle(const std::optional<std::string>& kiv);

}  // namespace kiv
