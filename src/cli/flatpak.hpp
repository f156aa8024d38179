// The editor's Flatpak sandbox: the host escape, the library path and the
// in-sandbox editor.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "release_channel/app_id.hpp"

namespace kiv {

/// The prefix FLATPAK_ID is tested for.
inline constexpr std::string_view KIV_FLATPAK_APP_ID = STABLE_APP_ID;
/// Named by this absolute path only, never looked up in PATH.
inline constexpr const char* FLATPAK_SPAWN_PATH = "/usr/bin/flatpak-spawn";
inline constexpr const char* SANDBOX_EDITOR_PATH = "/app/libexec/kiv-editor";
inline constexpr const char* FLATPAK_UPDATE_EXPLANATION = "Please use flatpak to update kiv";

/// Whether FLATPAK_ID names the editor's Flatpak application.
bool inside_editor_sandbox();

/// Inside the editor's sandbox, unless KIV_FLATPAK_NO_ESCAPE is set, replaces
/// the process by flatpak-spawn running the installation's kiv on the host
/// with `args` (the process arguments, the program first). Returns nothing
/// when the escape does not apply; a failure is reported on standard error
/// and gives the status the invocation ends with, 1.
[[nodiscard]] std::optional<ExitStatus> restart_on_flatpak_host(const std::vector<std::string>& args);

/// The installation directory from what `flatpak info --show-location`
/// printed: the location without Unicode white space at either end, joined
/// with "files". Nothing when the output is not UTF-8.
std::optional<std::string> installation_dir_from_location(std::string_view output);

/// Steps over the environment entries from `cursor` (a null-terminated array
/// of NAME=VALUE) to the next XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME
/// or XDG_STATE_HOME and returns "--env=FLATPAK_{name}={value}" for it;
/// nothing at the end. A value that is not UTF-8 counts as absent.
std::optional<std::string> next_flatpak_xdg_env_arg(char* const*& cursor);

/// Every such argument of `env`, in the order the variables stand there.
std::vector<std::string> flatpak_xdg_env_args(char* const* env);
/// The same for kiv's own environment.
std::vector<std::string> flatpak_xdg_env_args();

/// What follows the host kiv's path: "--kiv" and the installation's editor
/// unless one of `args` is exactly "--kiv", then `args` unchanged.
std::vector<std::string> flatpak_host_args(const std::string& installation_dir, std::span<const std::string> args);

/// The whole argument vector that replaces the process: flatpak-spawn,
/// "--host", the forwarded XDG settings of `env`, the update explanation and
/// the library directory, the host kiv, then flatpak_host_args.
std::vector<std::string> flatpak_spawn_argv(const std::string& installation_dir, char* const* env,
                                            std::span<const std::string> args);

/// How a failed replacement is reported after "failed restart cli on host: ".
std::string errno_debug_form(int errnum);
/// The same for `argument`, which holds a NUL byte at `position`.
std::string nul_argument_debug_form(size_t position, std::string_view argument);

/// LD_LIBRARY_PATH as it should be: the user's value, every element kept,
/// followed by KIV_FLATPAK_LIB_PATH when set. Unset or non-UTF-8 values count
/// as unset. kiv adds no empty element (the loader reads one as the working
/// directory): an empty value gives the lib path alone, and an empty lib path
/// is not added.
std::string extended_library_path(const std::optional<std::string>& ld_library_path,
                                  const std::optional<std::string>& lib_path);

/// Sets LD_LIBRARY_PATH in kiv's own environment, on every run.
void extend_library_path();

/// Inside the sandbox with the escape switched off and no --kiv, the sandbox's
/// own editor is used: `kiv` becomes SANDBOX_EDITOR_PATH and
/// KIV_UPDATE_EXPLANATION is set for the editor to inherit.
void use_sandbox_editor(std::optional<std::string>& kiv);

}  // namespace kiv
