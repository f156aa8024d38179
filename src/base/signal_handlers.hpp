// Handlers that take over signals from their default action and end the
// process as that action would, after doing their own part.
#pragma once

#include <signal.h>

#include <array>
#include <cstddef>
#include <span>

namespace kiv {

/// `handler` installed on those of `signals` whose action is the default,
/// with the whole of `signals` blocked while it runs: a second signal waits
/// until the first has ended the process. Signals that are ignored or have a
/// handler of the program's own are left alone. The handler is expected to
/// end with reraise_with_default_action. Not thread-safe: callers serialise.
class DefaultActionHandlers {
 public:
  static constexpr std::size_t MAX_SIGNALS = 16;

  /// `signals` (at most MAX_SIGNALS) must outlive the object.
  DefaultActionHandlers(std::span<const int> signals, void (*handler)(int)) noexcept;
  DefaultActionHandlers(const DefaultActionHandlers&) = delete;
  DefaultActionHandlers& operator=(const DefaultActionHandlers&) = delete;

  /// Installs the handler on each signal not yet taken over whose action is
  /// the default now, remembering the action it had.
  void install() noexcept;
  /// Gives every signal taken over the action it had before.
  void restore() noexcept;
  /// The same, but a signal whose handler someone else has set meanwhile
  /// keeps theirs.
  void restore_unless_replaced() noexcept;

 private:
  void restore(bool unless_replaced) noexcept;

  std::span<const int> signals_;
  void (*handler_)(int);
  std::array<struct sigaction, MAX_SIGNALS> previous_{};
  std::array<bool, MAX_SIGNALS> installed_{};
};

/// For the end of a signal handler: gives `signal_number` its default action
/// and raises it again. The signal is blocked while its handler runs, so it
/// stays pending and ends the process as usual as soon as the handler
/// returns. Async-signal-safe; errno is kept.
void reraise_with_default_action(int signal_number);

}  // namespace kiv
