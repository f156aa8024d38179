#include "prompt/terminal_restore.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "base/signal_handlers.hpp"

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

SignalRestoreScope::SignalRestoreScope() : handlers_(SIGNALS, restore_and_reraise) { handlers_.install(); }

// Someone else may have taken a signal over meanwhile; theirs stays.
SignalRestoreScope::~SignalRestoreScope() { handlers_.restore_unless_replaced(); }

}  // namespace kiv
