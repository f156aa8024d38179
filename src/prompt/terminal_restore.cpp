#include "prompt/terminal_restore.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "base/signal_cleanup.hpp"

namespace kiv {
namespace {

constexpr char SHOW_CURSOR[] = "\x1b[?25h";

// `raw_saved` is written before `raw_fd` is published and read only after
// `raw_fd` has been taken, so a handler never sees a half-written mode.
termios raw_saved;
std::atomic<int> raw_fd{-1};
std::atomic<int> cursor_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

extern "C" void restore_and_reraise(int signo) {
  int saved_errno = errno;
  restore_terminal_now();
  errno = saved_errno;
  reraise_with_default_action(signo);
}

}  // namespace

void remember_raw_mode(int fd, const termios& saved) {
  raw_saved = saved;
  raw_fd.store(fd);
}

void forget_raw_mode() { raw_fd.store(-1); }

void remember_hidden_cursor(int fd) { cursor_fd.store(fd); }

void forget_hidden_cursor() { cursor_fd.store(-1); }

void restore_terminal_now() {
  int fd = raw_fd.exchange(-1);
  // TCSANOW, not TCSADRAIN: a dying process must not wait for a terminal
  // that does not take its output.
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &raw_saved);
  int out = cursor_fd.exchange(-1);
  if (out >= 0) {
    ssize_t ignored = ::write(out, SHOW_CURSOR, sizeof SHOW_CURSOR - 1);
    (void)ignored;
  }
}

SignalRestoreScope::SignalRestoreScope() {
  struct sigaction action {};
  action.sa_handler = restore_and_reraise;
  // No SA_RESTART and no SA_NODEFER: the handler never returns to the
  // interrupted code, and a second signal waits until the first has ended
  // the process.
  sigemptyset(&action.sa_mask);
  for (int signo : SIGNALS) sigaddset(&action.sa_mask, signo);
  for (size_t i = 0; i < SIGNALS.size(); ++i) {
    struct sigaction previous {};
    if (::sigaction(SIGNALS[i], nullptr, &previous) != 0) continue;
    if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) continue;
    installed_[i] = ::sigaction(SIGNALS[i], &action, nullptr) == 0;
  }
}

SignalRestoreScope::~SignalRestoreScope() {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  for (size_t i = 0; i < SIGNALS.size(); ++i) {
    if (!installed_[i]) continue;
    struct sigaction current {};
    // Someone else may have taken the signal over meanwhile; theirs stays.
    if (::sigaction(SIGNALS[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == restore_and_reraise) {
      ::sigaction(SIGNALS[i], &default_action, nullptr);
    }
  }
}

}  // namespace kiv
