// The editor's Flatpak sandbox: the host escape, the library path and the
// in-sandbox editor.
#pragma once

#include <optional>
#include <string>

#include "base/error.hpp"
#include "release_channel/app_id.hpp"

namespace kiv {

/// The prefix FLATPAK_ID is tested for.
inline constexpr std::string_view KIV_FLATPAK_APP_ID = STABLE_APP_ID;
inline constexpr const char* FLATPAK_SPAWN_PATH = "/usr/bin/flatpak-spawn";
inline constexpr const char* SANDBOX_EDITOR_PATH = "/app/libexec/kiv-editor";
inline constexpr const char* FLATPAK_UPDATE_EXPLANATION = "Please use flatpak to update kiv";

/// Whether FLATPAK_ID names the editor's Flatpak application.
bool inside_editor_sandbox();

/// Inside the editor's sandbox, unless KIV_FLATPAK_NO_ESCAPE is set, re-runs
/// kiv on the host. Returns when the escape does not apply.
[[nodiscard]] Status restart_on_flatpak_host();

/// LD_LIBRARY_PATH as it should be: its elements (split at ':') followed by
/// KIV_FLATPAK_LIB_PATH when set. Unset or non-UTF-8 values count as unset.
std::string extended_library_path(const std::optional<std::string>& ld_library_path,
                                  const std::optional<std::string>& lib_path);

/// Sets LD_LIBRARY_PATH in kiv's own environment, on every run.
void extend_library_path();

/// Inside the sandbox with the escape switched off and no --kiv, the sandbox's
/// own editor is used.
[[nodiscard]] Status use_sandbox_editor(std::optional<std::string>& kiv);

}  // namespace kiv
