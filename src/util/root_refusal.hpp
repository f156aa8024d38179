#pragma once

#include <optional>
#include <string_view>

#include "base/error.hpp"

namespace kiv {

/// The text written when kiv refuses to run as root (312 bytes, four lines).
extern const std::string_view ROOT_REFUSAL_TEXT;

/// Nothing when the effective user is not root, or when KIV_ALLOW_ROOT is
/// exactly "true". Otherwise writes ROOT_REFUSAL_TEXT to standard error in
/// one write and returns the status to end with, 1: the process must not go
/// on, whether or not standard error took the text.
[[nodiscard]] std::optional<ExitStatus> prevent_root_execution();

}  // namespace kiv
