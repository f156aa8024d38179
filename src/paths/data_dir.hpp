// The data directory the launcher shares with the editor, and the custom one
// that --user-data-dir selects. Each is computed at most once per process.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/text.hpp"

namespace kiv {

/// Fixes the custom data directory to `dir` exactly as typed: creates it with
/// every missing parent (0777 before the umask) and stores its canonical
/// path. A later call returns the first value and creates nothing. Calling it
/// after data_dir() or config_dir() was filled stops the process (status 101).
/// Fails with "failed to create custom data directory" or "failed to
/// canonicalize custom data directory's path to an absolute path" over the OS
/// error.
[[nodiscard]] Result<std::string> set_custom_data_dir(const std::string& dir);

/// The data directory: the custom one when set, else FLATPAK_XDG_DATA_HOME
/// (valid UTF-8, used unchanged) or the XDG data directory, followed by "kiv".
/// Computed on the first call; fails with "failed to determine XDG_DATA_HOME
/// directory" when nothing gives a base.
[[nodiscard]] Result<std::string> data_dir();

/// The configuration directory. Nothing in kiv fills it.
std::optional<std::string> config_dir();

/// The computation behind data_dir() for a custom directory (if any), an
/// environment and a password-database home, without touching process state.
[[nodiscard]] Result<std::string> init_data_dir(const std::optional<std::string>& custom, const EnvLookup& env,
                                                const std::function<std::optional<std::string>()>& passwd_home);

/// The home directory field of `uid`'s entry in `passwd` (the text of
/// /etc/passwd: name:password:uid:gid:gecos:home:shell lines), when there is
/// such an entry and the field is not empty.
std::optional<std::string> home_from_passwd(std::string_view passwd, unsigned uid);

/// The home directory of the real user from /etc/passwd, read directly: kiv
/// is linked statically, and the C library's user lookup would then load the
/// name service modules of whatever C library the machine has at run time.
/// Nothing when the file or the entry is missing or the field is empty.
std::optional<std::string> passwd_home_dir();

}  // namespace kiv
