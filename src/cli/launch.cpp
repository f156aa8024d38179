#include "cli/launch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/process.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"
#include "paths/data_dir.hpp"
#include "release_channel/release_channel.hpp"

extern char** environ;

namespace kiv {
namespace {

// Everything the forked child writes, prepared before the fork: after it,
// in a multithreaded process, only async-signal-safe calls are allowed.
void write_str(int fd, const char* s) { (void)!::write(fd, s, ::strlen(s)); }

void write_os_error(int fd, int err) {
  const char* description = ::strerrordesc_np(err);
  write_str(fd, description ? description : "Unknown error");
  write_str(fd, " (os error ");
  char digits[16];
  int n = 0;
  unsigned value = static_cast<unsigned>(err);
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 15);
  char out[16];
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  (void)!::write(fd, out, static_cast<size_t>(n));
  write_str(fd, ")");
}

[[noreturn]] void run_detached_child(const CStrings& argv, const CStrings& envp, const std::string& quoted_path) {
  // The environment prepared before the fork already holds KIV_FORCE_CLI_MODE.
  environ = const_cast<char**>(envp.pointers.data());
  // kiv ignores SIGPIPE for itself; an ignored disposition would survive the
  // exec and reach the editor and every program it starts, so the editor
  // gets the default back, as a foreground editor does.
  ::signal(SIGPIPE, SIG_DFL);
  if (::setsid() < 0) {
    int err = errno;
    write_str(2, "failed to setsid: ");
    write_os_error(2, err);
    write_str(2, "\n");
    _exit(1);
  }
  for (int fd = 0; fd <= 2; ++fd) {
    if (::close(fd) != 0) {
      int err = errno;
      write_str(2, "failed to close_fd: ");
      write_os_error(2, err);
      write_str(2, "\n");
      break;
    }
  }
  const char* program = argv.pointers[0];
  if (::strchr(program, '/') != nullptr)
    ::execve(program, argv.pointers.data(), environ);
  else
    ::execvpe(program, argv.pointers.data(), environ);
  int err = errno;
  // Lost when the descriptors are closed, which is not an error.
  write_str(2, "failed to exec ");
  write_str(2, quoted_path.c_str());
  write_str(2, ": couldn't exec process: ");
  const char* description = ::strerrordesc_np(err);
  write_str(2, description ? description : "Unknown error");
  write_str(2, "\n");
  _exit(1);
}

// The environment of this process with KIV_FORCE_CLI_MODE set to "".
std::vector<std::string> detached_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (::strncmp(*e, "KIV_FORCE_CLI_MODE=", 19) == 0) continue;
    env.emplace_back(*e);
  }
  env.emplace_back("KIV_FORCE_CLI_MODE=");
  return env;
}

}  // namespace

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
  std::string name = "kiv-" + RELEASE_CHANNEL_NAME.get() + ".sock";
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

void set_force_cli_mode_env() { ::setenv("KIV_FORCE_CLI_MODE", "", 1); }

Result<int> run_app_foreground(const std::string& editor_path, std::string url,
                               const std::optional<std::string>& user_data_dir) {
  CStrings argv(editor_argv(editor_path, url, user_data_dir));
  // The child gets the default SIGPIPE disposition back, as any program
  // started from a shell expects.
  SpawnAttributes attr;
  pid_t pid;
  int err = ::posix_spawn(&pid, editor_path.c_str(), nullptr, attr.get(), argv.pointers.data(), environ);
  if (err != 0) return fail_os(err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail_last_os();
  }
  return status;
}

Status send_url_or_spawn_app(const std::string& editor_path, std::string url,
                             const std::optional<std::string>& user_data_dir) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return fail_last_os();

  auto path = hand_over_socket_path(user_data_dir);
  // An address that cannot be formed, or a failed connect, means no editor
  // is there to take the URL: start one.
  if (path && path->size() < sizeof(sockaddr_un::sun_path) && path->find('\0') == std::string::npos) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ::memcpy(address.sun_path, path->data(), path->size());
    auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path->size() + 1);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      ssize_t n;
      do {
        n = ::write(socket.get(), url.data(), url.size());
      } while (n < 0 && errno == EINTR);
      if (n < 0) return fail_last_os();
      return {};
    }
  }

  CStrings argv(editor_argv(editor_path, url, user_data_dir));
  CStrings envp(detached_environment());
  std::string quoted_path = debug_quoted(editor_path);
  pid_t pid = ::fork();
  if (pid < 0) return fail_last_os();
  if (pid == 0) run_detached_child(argv, envp, quoted_path);
  return {};
}

}  // namespace kiv
