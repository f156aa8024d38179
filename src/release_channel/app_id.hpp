// The editor's application id for each release channel: the reverse-domain
// name under which it is installed (Flatpak, desktop entry, macOS bundle).
// The Flatpak check and the uninstall script both read them from here.
#pragma once

#include <string_view>

namespace kiv {

inline constexpr std::string_view STABLE_APP_ID = "dev.kiv.Kiv";
inline constexpr std::string_view NIGHTLY_APP_ID = "dev.kiv.Kiv.Nightly";
inline constexpr std::string_view PREVIEW_APP_ID = "dev.kiv.Kiv.Preview";
inline constexpr std::string_view DEV_APP_ID = "dev.kiv.Kiv.Dev";

}  // namespace kiv
