// The uninstall mode: kiv's own uninstall script, run with sh.
#pragma once

#include <string_view>

namespace kiv {

/// The uninstall script (src/cli/uninstall.sh with the editor's application
/// ids filled in), written out byte for byte.
extern const std::string_view UNINSTALL_SCRIPT;

}  // namespace kiv
