#include "cli/flatpak.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <expected>

#include "base/eintr.hpp"
#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/process.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"

extern char** environ;

namespace kiv {
namespace {

constexpr std::string_view kForwardedXdgVariables[] = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                                       "XDG_STATE_HOME"};

ExitStatus fail_restart(const std::string& failure) {
  (void)write_all(STDERR_FILENO, "failed restart cli on host: " + failure + "\n");
  return 1;
}

// Runs `argv` (the program by its path) with standard input from /dev/null
// and returns what it wrote to standard output once it has ended. What it
// writes to standard error is read and dropped; its status is not looked
// at. The error is the errno of starting it.
std::expected<std::string, int> run_capturing_output(const std::vector<std::string>& argv) {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return std::unexpected(errno);
  UniqueFd out_read(out_pipe[0]), out_write(out_pipe[1]);
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) return std::unexpected(errno);
  UniqueFd err_read(err_pipe[0]), err_write(err_pipe[1]);

  SpawnFileActions actions;
  Status prepared = actions.add_open(STDIN_FILENO, "/dev/null", O_RDONLY);
  if (prepared) prepared = actions.add_dup2(out_write.get(), STDOUT_FILENO);
  if (prepared) prepared = actions.add_dup2(err_write.get(), STDERR_FILENO);
  if (!prepared) return std::unexpected(prepared.error().os_code().value_or(EINVAL));
  CStrings c_argv(argv);
  SpawnOptions options;
  options.file_actions = &actions;
  auto pid = spawn_process(c_argv, environ, options);
  if (!pid) return std::unexpected(pid.error().os_code().value_or(EINVAL));
  ChildProcess child(*pid);
  out_write.reset();
  err_write.reset();

  std::string output;
  struct pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (retry_on_eintr([&] { return ::poll(fds, 2, -1); }) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = retry_on_eintr([&] { return ::read(fds[i].fd, buffer, sizeof buffer); });
      if (n > 0) {
        if (i == 0) output.append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
      }
    }
  }
  // Closed before the wait, so a child still writing cannot block it.
  out_read.reset();
  err_read.reset();
  child.wait();
  return output;
}

// Replaces the process by FLATPAK_SPAWN_PATH with `argv`; returns how that
// failed. Every argument is checked for a NUL byte first, in order.
std::string replace_process(const std::vector<std::string>& argv) {
  for (const std::string& argument : argv) {
    size_t nul = argument.find('\0');
    if (nul != std::string::npos) return nul_argument_debug_form(nul, argument);
  }
  // flatpak-spawn, and the host kiv after it, start as any child of kiv
  // does: kiv's ignored SIGPIPE and any blocked signal would survive the exec.
  return errno_debug_form(exec_in_place(FLATPAK_SPAWN_PATH, CStrings(argv)));
}

}  // namespace

bool inside_editor_sandbox() {
  auto id = env_text("FLATPAK_ID");
  return id && id->starts_with(KIV_FLATPAK_APP_ID);
}

std::optional<std::string> installation_dir_from_location(std::string_view output) {
  if (!is_valid_utf8(output)) return std::nullopt;
  return join_path(trim_unicode_white_space(output), "files");
}

std::optional<std::string> next_flatpak_xdg_env_arg(char* const*& cursor) {
  for (; *cursor != nullptr; ++cursor) {
    std::string_view entry = *cursor;
    size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = entry.substr(0, equals), value = entry.substr(equals + 1);
    bool forwarded = false;
    for (std::string_view candidate : kForwardedXdgVariables) forwarded = forwarded || name == candidate;
    // The settings are text; a value that is not counts as unset, as
    // everywhere else kiv reads a variable.
    if (!forwarded || !is_valid_utf8(value)) continue;
    ++cursor;
    return "--env=FLATPAK_" + std::string(name) + "=" + std::string(value);
  }
  return std::nullopt;
}

std::vector<std::string> flatpak_xdg_env_args(char* const* env) {
  std::vector<std::string> args;
  while (auto arg = next_flatpak_xdg_env_arg(env)) args.push_back(std::move(*arg));
  return args;
}

std::vector<std::string> flatpak_xdg_env_args() { return flatpak_xdg_env_args(environ); }

std::vector<std::string> flatpak_host_args(const std::string& installation_dir, std::span<const std::string> args) {
  std::vector<std::string> host_args;
  bool has_kiv = false;
  for (const std::string& arg : args) has_kiv = has_kiv || arg == "--kiv";
  if (!has_kiv) {
    host_args.emplace_back("--kiv");
    host_args.push_back(join_path(join_path(installation_dir, "libexec"), "kiv-editor"));
  }
  host_args.insert(host_args.end(), args.begin(), args.end());
  return host_args;
}

std::vector<std::string> flatpak_spawn_argv(const std::string& installation_dir, char* const* env,
                                            std::span<const std::string> args) {
  std::vector<std::string> argv = {FLATPAK_SPAWN_PATH, "--host"};
  for (std::string& arg : flatpak_xdg_env_args(env)) argv.push_back(std::move(arg));
  argv.push_back(std::string("--env=KIV_UPDATE_EXPLANATION=") + FLATPAK_UPDATE_EXPLANATION);
  argv.push_back("--env=KIV_FLATPAK_LIB_PATH=" + join_path(installation_dir, "lib"));
  argv.push_back(join_path(join_path(installation_dir, "bin"), "kiv"));
  for (std::string& arg : flatpak_host_args(installation_dir, args)) argv.push_back(std::move(arg));
  return argv;
}

std::string errno_debug_form(int errnum) {
  return "Errno(Errno { code: " + std::to_string(errnum) +
         ", description: Some(" + debug_quoted(os_error_description(errnum)) + ") })";
}

std::string nul_argument_debug_form(size_t position, std::string_view argument) {
  std::string form = "BadArgument(NulError(" + std::to_string(position) + ", [";
  for (size_t i = 0; i < argument.size(); ++i) {
    if (i > 0) form += ", ";
    form += std::to_string(static_cast<unsigned char>(argument[i]));
  }
  return form + "]))";
}

std::optional<ExitStatus> restart_on_flatpak_host(const std::vector<std::string>& args) {
  if (env_text("KIV_FLATPAK_NO_ESCAPE") || !inside_editor_sandbox()) return std::nullopt;
  std::string flatpak_id = *env_text("FLATPAK_ID");

  auto output = run_capturing_output({FLATPAK_SPAWN_PATH, "--host", "flatpak", "info", "--show-location", flatpak_id});
  // Without a location there is no host kiv to run: stop rather than guess.
  if (!output) return fail_restart(errno_debug_form(output.error()));
  auto installation_dir = installation_dir_from_location(*output);
  if (!installation_dir)
    return fail_restart("the location flatpak info printed is not UTF-8: " + debug_quoted(*output));

  std::span<const std::string> user_args(args);
  if (!user_args.empty()) user_args = user_args.subspan(1);
  return fail_restart(replace_process(flatpak_spawn_argv(*installation_dir, environ, user_args)));
}

std::string extended_library_path(const std::optional<std::string>& ld_library_path,
                                  const std::optional<std::string>& lib_path) {
  std::string joined = ld_library_path.value_or("");
  if (lib_path && !lib_path->empty()) {
    if (!joined.empty()) joined += ':';
    joined += *lib_path;
  }
  return joined;
}

void extend_library_path() {
  std::string value = extended_library_path(env_text("LD_LIBRARY_PATH"), env_text("KIV_FLATPAK_LIB_PATH"));
  ::setenv("LD_LIBRARY_PATH", value.c_str(), 1);
}

void use_sandbox_editor(std::optional<std::string>& kiv) {
  if (!env_text("KIV_FLATPAK_NO_ESCAPE") || !inside_editor_sandbox() || kiv) return;
  kiv = SANDBOX_EDITOR_PATH;
  ::setenv("KIV_UPDATE_EXPLANATION", FLATPAK_UPDATE_EXPLANATION, 1);
}

}  // namespace kiv
