// Removing a socket file and its directory when an interrupt, termination or
// hang-up signal ends the process, so that nothing of it is left behind.
#pragma once

#include <signal.h>

#include <string_view>

#include "base/error.hpp"

namespace kiv {

/// From now until disarm_termination_cleanup(), SIGINT, SIGTERM and SIGHUP
/// first remove `file` and then the directory `dir`, and then end the process
/// as the signal would have (killed by it, so the shell reports the usual
/// status). The handler only unlinks, removes the directory and re-raises,
/// on paths copied here beforehand. A signal that is ignored stays ignored,
/// and one with a handler of its own keeps it. One file and directory at a
/// time: arming again replaces them. Fails, arming nothing, when a path is
/// longer than PATH_MAX.
[[nodiscard]] Status arm_termination_cleanup(std::string_view file, std::string_view dir);

/// Holds SIGINT, SIGTERM and SIGHUP back from the calling thread while it
/// lives (one that arrives stays pending), then gives the thread its signal
/// mask back. Made before the paths are created and let go once they are
/// armed, it leaves no moment at which a signal ends the process with the
/// paths made but not yet armed. Only the calling thread is covered: make
/// the paths while no other thread takes these signals.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

/// Forgets the paths and gives the three signals back the actions they had
/// before arming. Nothing happens when nothing is armed.
void disarm_termination_cleanup();

/// What a signal would do, without the signal: removes the armed file and
/// directory, if still armed, then disarms. For a process about to end
/// while the owner of the paths cannot (a thread still waiting on them).
void run_termination_cleanup_now();

/// For the end of a signal handler: gives `signal_number` its default action
/// and raises it again. The signal is blocked while its handler runs, so it
/// stays pending and ends the process as usual as soon as the handler
/// returns. Async-signal-safe; errno is kept.
void reraise_with_default_action(int signal_number);

}  // namespace kiv
