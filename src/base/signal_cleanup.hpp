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

/// Holds SIGINT, SIGTERM and SIGHUP back in the calling thread while it
/// lives, so that a path made meanwhile can be armed before any of them acts
/// on the process: one that comes in between is delivered when the object
/// goes, by then with the clean-up armed. The thread's mask is put back as
/// it was.
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

}  // namespace kiv
