#include "pty_session.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "test_support.hpp"

namespace kiv::testing {
namespace {

void redirect(int target, const std::string& file, int terminal) {
  int fd = file.empty() ? terminal : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) _exit(126);
  ::dup2(fd, target);
}

}  // namespace

PtySession::PtySession(const PtyOptions& options) : wait_limit_(options.wait_limit) {
  winsize size{};
  size.ws_row = options.rows;
  size.ws_col = options.columns;
  if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty");
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  termios mode{};
  ::tcgetattr(slave_, &mode);
  if (!options.output_processing) mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // the bytes as written
  ::tcsetattr(slave_, TCSANOW, &mode);
  ::tcgetattr(slave_, &initial_mode_);

  RunOptions exec_options;
  exec_options.argv = options.argv;
  exec_options.env = options.env;
  ExecArgs exec(exec_options);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::setsid();
    if (options.controlling_terminal && ::ioctl(slave_, TIOCSCTTY, 0) != 0) _exit(126);
    if (options.stdin_on_terminal) {
      ::dup2(slave_, 0);
    } else {
      int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
    }
    redirect(1, options.stdout_file, slave_);
    redirect(2, options.stderr_file, slave_);
    for (int signo = 1; signo < NSIG; ++signo) ::signal(signo, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    _exit(127);
  }
  ::fcntl(master_, F_SETFL, O_NONBLOCK);
}

PtySession::~PtySession() {
  if (!reaped_) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(master_);
  ::close(slave_);
}

termios PtySession::mode() const {
  termios mode{};
  ::tcgetattr(slave_, &mode);
  return mode;
}

void PtySession::pump(int timeout_ms) {
  pollfd entry{master_, POLLIN, 0};
  if (::poll(&entry, 1, timeout_ms) <= 0) return;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got <= 0) return;
    output_.append(buffer, static_cast<size_t>(got));
  }
}

bool PtySession::wait_until(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + wait_limit_;
  for (;;) {
    pump(0);
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pump(5);
  }
}

bool PtySession::wait_for_raw_mode() {
  return wait_until([&] { return (mode().c_lflag & ICANON) == 0; });
}

void PtySession::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t put = ::write(master_, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) {
      pump(5);
      continue;
    }
    if (put <= 0) throw std::runtime_error("write to the terminal failed");
    bytes.remove_prefix(static_cast<size_t>(put));
  }
}

bool PtySession::type(std::string_view bytes, size_t redraws) {
  if (!wait_for_raw_mode()) return false;
  size_t before = count_of(output_, "> ");
  send(bytes);
  return wait_until([&] { return count_of(output_, "> ") >= before + redraws; });
}

bool PtySession::type_last(std::string_view bytes) {
  if (!wait_for_raw_mode()) return false;
  send(bytes);
  return true;
}

void PtySession::resize(unsigned short rows, unsigned short columns) {
  winsize size{};
  size.ws_row = rows;
  size.ws_col = columns;
  ::ioctl(master_, TIOCSWINSZ, &size);
}

std::optional<int> PtySession::wait_exit() {
  if (reaped_) throw std::logic_error("already reaped");
  int status = 0;
  bool ended = wait_until([&] {
    pid_t got = ::waitpid(pid_, &status, WNOHANG);
    return got == pid_;
  });
  if (!ended) return std::nullopt;
  reaped_ = true;
  pump(0);
  ::kill(-pid_, SIGKILL);
  return status;
}

size_t count_of(std::string_view haystack, std::string_view needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace kiv::testing
