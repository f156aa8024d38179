#include "test_support.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kiv::testing {

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name)) saved_ = old;
  set(value);
}

ScopedEnv::~ScopedEnv() { set(saved_); }

void ScopedEnv::set(const std::optional<std::string>& value) {
  if (value)
    ::setenv(name_.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedTempDir::ScopedTempDir() {
  std::string tmpl = "/tmp/kiv-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  ::chmod(path_.c_str(), 0755);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  // Tests may leave unreadable directories behind; make them removable.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  std::filesystem::remove_all(path_, ec);
}

namespace {

void open_on(int target, const char* path, int flags) {
  int fd = ::open(path, flags);
  ::dup2(fd, target);
  if (fd != target) ::close(fd);
}

void set_stdio(int target, Stdio mode, int pipe_end) {
  switch (mode) {
    case Stdio::Inherit: break;
    case Stdio::DevNull: open_on(target, "/dev/null", O_RDWR); break;
    case Stdio::Closed: ::close(target); break;
    case Stdio::Pipe: ::dup2(pipe_end, target); break;
    case Stdio::BrokenPipe: {
      int ends[2];
      if (::pipe(ends) != 0) _exit(126);
      ::close(ends[0]);
      ::dup2(ends[1], target);
      if (ends[1] != target) ::close(ends[1]);
      break;
    }
    case Stdio::Full: open_on(target, "/dev/full", O_WRONLY); break;
  }
}

}  // namespace

ExecArgs::ExecArgs(const RunOptions& options) : argv_strings(options.argv) {
  for (const auto& [k, v] : options.env) env_strings.push_back(k + "=" + v);
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
}

void reap_process_group(pid_t pid, std::chrono::steady_clock::time_point deadline, RunResult& result) {
  int status = 0;
  for (;;) {
    pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid || (w < 0 && errno != EINTR)) break;
    if (result.timed_out || std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    ::usleep(1000);
  }
  ::kill(-pid, SIGKILL);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
}

RunResult run_process(const RunOptions& options) {
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (options.stdin_mode == Stdio::Pipe && ::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (options.stdout_mode == Stdio::Pipe && ::pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (options.stderr_mode == Stdio::Pipe && ::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");

  ExecArgs exec(options);
  // Made before the fork: the child may only make async-signal-safe calls.
  const std::string overlay = "lowerdir=" + options.usr_bin_overlay + ":/usr/bin";
  const std::string overlay_failure = "cannot lay " + options.usr_bin_overlay + " over /usr/bin: ";

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    set_stdio(0, options.stdin_mode, in_pipe[0]);
    set_stdio(1, options.stdout_mode, out_pipe[1]);
    set_stdio(2, options.stderr_mode, err_pipe[1]);
    if (!options.usr_bin_overlay.empty()) {
      // Private first, so that the overlay does not travel back to the
      // namespace the test runs in.
      if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("overlay", "/usr/bin", "overlay", MS_RDONLY, overlay.c_str()) != 0) {
        const char* reason = ::strerrordesc_np(errno);
        (void)!::write(2, overlay_failure.data(), overlay_failure.size());
        (void)!::write(2, reason, ::strlen(reason));
        (void)!::write(2, "\n", 1);
        _exit(125);
      }
    }
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.as_nobody) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(126);
    }
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    _exit(127);
  }
  ::setpgid(pid, pid);
  if (in_pipe[0] >= 0) ::close(in_pipe[0]);
  if (out_pipe[1] >= 0) ::close(out_pipe[1]);
  if (err_pipe[1] >= 0) ::close(err_pipe[1]);

  RunResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (in_fd >= 0) ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  if (in_fd >= 0 && options.stdin_data.empty()) {
    ::close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  while (out_fd >= 0 || err_fd >= 0 || in_fd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      break;
    }
    struct pollfd fds[3];
    int n = 0;
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    int r = ::poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      int fd = fds[i].fd;
      if (fd == in_fd) {
        ssize_t w = ::write(fd, options.stdin_data.data() + written, options.stdin_data.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 && errno == EAGAIN) continue;
        if (w < 0 || written == options.stdin_data.size()) {
          ::close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buffer[65536];
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        (fd == out_fd ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fd);
        (fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  for (int fd : {in_fd, out_fd, err_fd})
    if (fd >= 0) ::close(fd);

  reap_process_group(pid, deadline, result);
  return result;
}

std::string kiv_binary() { return KIV_BINARY_PATH; }

std::string stand_in_editor_binary() { return KIV_STAND_IN_PATH; }

std::string stand_in_flatpak_spawn_dir() { return KIV_STAND_IN_FLATPAK_SPAWN_DIR; }

std::string stand_in_bulk_text(std::size_t n) {
  std::string out;
  out.reserve(n + 16);
  char line[32];
  for (std::size_t offset = 0; offset < n; offset += 16) {
    std::snprintf(line, sizeof line, "%015zu\n", offset % (std::size_t{1} << 20));
    out.append(line, 16);
  }
  out.resize(n);
  return out;
}

std::map<std::string, std::string> kiv_env(const std::string& home) {
  std::map<std::string, std::string> env = {
      {"HOME", home},
      {"TMPDIR", home + "/tmp"},
      {"XDG_DATA_HOME", home + "/data"},
      {"XDG_CONFIG_HOME", home + "/config"},
      {"XDG_CACHE_HOME", home + "/cache"},
      {"XDG_STATE_HOME", home + "/state"},
      {"XDG_RUNTIME_DIR", home + "/runtime"},
      {"KIV_ALLOW_ROOT", "true"},
      {"PATH", "/usr/local/bin:/usr/bin:/bin"},
      {"LANG", "C.UTF-8"},
  };
  for (const char* dir : {"tmp", "data", "config", "cache", "state", "runtime"}) {
    std::filesystem::create_directories(home + "/" + dir);
  }
  return env;
}

RunOptions kiv_run_options(const std::string& home, const std::vector<std::string>& args) {
  RunOptions options;
  options.argv = {kiv_binary()};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = kiv_env(home);
  options.cwd = home;
  options.timeout = std::chrono::seconds(20);
  return options;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace kiv::testing
