#include "base/signal_handlers.hpp"

#include <cerrno>

#include "base/panic.hpp"

namespace kiv {

DefaultActionHandlers::DefaultActionHandlers(std::span<const int> signals, void (*handler)(int)) noexcept
    : signals_(signals), handler_(handler) {
  KIV_ASSERT(signals.size() <= MAX_SIGNALS);
}

void DefaultActionHandlers::install() noexcept {
  struct sigaction action {};
  action.sa_handler = handler_;
  // No SA_RESTART and no SA_NODEFER: the handler never returns to the
  // interrupted code.
  sigemptyset(&action.sa_mask);
  for (int signal_number : signals_) sigaddset(&action.sa_mask, signal_number);
  for (std::size_t i = 0; i < signals_.size(); ++i) {
    if (installed_[i]) continue;
    struct sigaction current {};
    if (::sigaction(signals_[i], nullptr, &current) != 0) continue;
    // Ignored (as under nohup) or handled by someone else: left as it is.
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    installed_[i] = ::sigaction(signals_[i], &action, &previous_[i]) == 0;
  }
}

void DefaultActionHandlers::restore() noexcept { restore(false); }

void DefaultActionHandlers::restore_unless_replaced() noexcept { restore(true); }

void DefaultActionHandlers::restore(bool unless_replaced) noexcept {
  for (std::size_t i = 0; i < signals_.size(); ++i) {
    if (!installed_[i]) continue;
    installed_[i] = false;
    struct sigaction current {};
    if (unless_replaced && (::sigaction(signals_[i], nullptr, &current) != 0 ||
                            (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != handler_)) {
      continue;
    }
    ::sigaction(signals_[i], &previous_[i], nullptr);
  }
}

void reraise_with_default_action(int signal_number) {
  const int saved_errno = errno;
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

}  // namespace kiv
