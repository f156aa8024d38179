#include "cli/launch.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/eintr.hpp"
#include "base/fs.hpp"
#include "base/process.hpp"
#include "base/socket_address.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"
#include "paths/data_dir.hpp"
#include "release_channel/release_channel.hpp"

extern char** environ;

namespace kiv {
std::vector<std::string> editor_argv(const std::string& editor_path, const std::string& url,
                                     const std::optional<std::string>& user_data_dir) {
  std::vector<std::string> argv = {editor_path, url};
  if (user_data_dir) {
    argv.emplace_back("--user-data-dir");
    argv.push_back(*user_data_dir);
  }
  return argv;
}

Result<std::string> hand_over_socket_path(const std::optional<std::string>& user_data_dir) {
  std::string dir;
  if (user_data_dir) {
    dir = *user_data_dir;
  } else {
    KIV_TRY_ASSIGN(dir, data_dir());
  }
  return join_path(dir, "kiv-" + RELEASE_CHANNEL_NAME.get() + ".sock");
}

Result<int> run_app_foreground(const std::string& editor_path, std::string url,
                               const std::optional<std::string>& user_data_dir) {
  CStrings argv(editor_argv(editor_path, url, user_data_dir));
  KIV_TRY_ASSIGN(pid_t pid, spawn_process(argv, environ));
  return wait_for_process(pid);
}

Status send_url_or_spawn_app(const std::string& editor_path, std::string url,
                             const std::optional<std::string>& user_data_dir) {
  KIV_TRY_ASSIGN(UniqueFd socket, unix_socket(SOCK_DGRAM));

  auto path = hand_over_socket_path(user_data_dir);
  // An address that cannot be formed, or a failed connect, means no editor
  // is there to take the URL: start one.
  auto address = path ? make_unix_socket_address(*path) : std::unexpected(UnixAddressProblem::TooLong);
  if (address && connect_socket(socket.get(), *address)) {
    if (retry_on_eintr([&] { return ::write(socket.get(), url.data(), url.size()); }) < 0) return fail_last_os();
    return {};
  }

  // The editor is not waited for: it outlives kiv, in a session of its own
  // and without kiv's standard streams. posix_spawn reports a failed exec, so
  // an editor that cannot run is an error here rather than a wait for a
  // connection that never comes.
  CStrings argv(editor_argv(editor_path, url, user_data_dir));
  CStrings envp(environment_with("KIV_FORCE_CLI_MODE", ""));
  SpawnFileActions no_standard_streams;
  for (int fd = 0; fd <= 2; ++fd) KIV_TRY(no_standard_streams.add_close(fd));
  SpawnOptions options;
  options.new_session = true;
  options.file_actions = &no_standard_streams;
  auto pid = spawn_process(argv, envp.get(), options);
  if (!pid) {
    const char* description = pid.error().os_code() ? ::strerrordesc_np(*pid.error().os_code()) : nullptr;
    return fail("failed to exec " + debug_quoted(editor_path) + ": couldn't exec process: " +
                (description ? std::string(description) : pid.error().display()));
  }
  return {};
}

}  // namespace kiv
