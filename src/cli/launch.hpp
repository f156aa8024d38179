// Getting the editor to connect: the hand-over to a running editor, a
// detached new one, or a foreground child.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"

namespace kiv {

/// The editor's argument vector: its path, the hand-over URL, then
/// "--user-data-dir" and the directory as typed when one was given.
std::vector<std::string> editor_argv(const std::string& editor_path, const std::string& url,
                                     const std::optional<std::string>& user_data_dir);

/// The hand-over socket: `user_data_dir` as typed when given, else the data
/// directory, joined with "kiv-{channel}.sock".
[[nodiscard]] Result<std::string> hand_over_socket_path(const std::optional<std::string>& user_data_dir);

/// Runs the editor as a child with kiv's standard streams and environment,
/// waits for it and returns its wait status. Failing to start it is the OS
/// error.
[[nodiscard]] Result<int> run_app_foreground(const std::string& editor_path, std::string url,
                                             const std::optional<std::string>& user_data_dir);

/// Offers `url` as one datagram to a running editor on the hand-over socket;
/// when none takes it, starts a detached editor (new session, no standard
/// descriptors, KIV_FORCE_CLI_MODE set empty) and does not wait for it.
/// Errors are the OS error of creating the socket or writing the URL, or
/// "failed to exec \"PATH\": couldn't exec process: {description}" when the
/// editor cannot be started.
[[nodiscard]] Status send_url_or_spawn_app(const std::string& editor_path, std::string url,
                                           const std::optional<std::string>& user_data_dir);

}  // namespace kiv
