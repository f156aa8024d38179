#pragma once

#include <string_view>

namespace kiv {

/// The text written when kiv refuses to run as root (312 bytes, four lines).
extern const std::string_view ROOT_REFUSAL_TEXT;

/// Returns when the effective user is not root, or when KIV_ALLOW_ROOT is
/// exactly "true". Otherwise writes ROOT_REFUSAL_TEXT to standard error in
/// one write and ends the process with status 1.
void prevent_root_execution();

}  // namespace kiv
