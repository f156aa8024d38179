// What a prompt has changed on the terminal, kept process-wide so that a
// terminating signal can put it back before the process dies: the input mode
// of a descriptor switched to raw, and a cursor hidden on an output
// descriptor. Everything here is safe to call from any thread; the restoring
// side is async-signal-safe.
#pragma once

#include <signal.h>
#include <termios.h>

#include <array>

#include "base/signal_handlers.hpp"

namespace kiv {

/// Records that `fd` is about to be switched out of `saved`, its current
/// mode. Call before the switch, so that no moment is left unguarded.
void remember_raw_mode(int fd, const termios& saved);
/// Records that the mode has been put back. Call after the restore.
void forget_raw_mode();
/// Records that the cursor of the terminal on `fd` is (about to be) hidden.
void remember_hidden_cursor(int fd);
/// Records that the cursor has been shown again.
void forget_hidden_cursor();

/// Puts back what is recorded (the saved mode at once, the show-cursor
/// sequence) and forgets it. Async-signal-safe; failures are ignored, as
/// there is no one left to tell.
void restore_terminal_now();

/// While it lives, each terminating signal whose action was the default
/// (SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
/// SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR) first restores the
/// terminal and then ends the process by that same signal. Signals that are
/// ignored or have a handler of the program's own are left alone. The
/// previous actions are put back on destruction. One scope at a time per
/// process (the prompt serialises itself).
class SignalRestoreScope {
 public:
  SignalRestoreScope();
  ~SignalRestoreScope();
  SignalRestoreScope(const SignalRestoreScope&) = delete;
  SignalRestoreScope& operator=(const SignalRestoreScope&) = delete;

  static constexpr std::array<int, 14> SIGNALS = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGALRM, SIGUSR1, SIGUSR2,
                                                  SIGPIPE, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

 private:
  DefaultActionHandlers handlers_;
};

}  // namespace kiv
