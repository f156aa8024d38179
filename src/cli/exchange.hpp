// The exchange with the editor, on the "CliReceiver" thread.
#pragma once

#include "base/error.hpp"
#include "cli/open_request.hpp"
#include "base/thread.hpp"

namespace kiv {

/// Waits for the editor on the one-shot server, takes its Handshake, sends
/// the open (or debug-state) request and relays what comes back until Exit
/// (its status stored in the slot) or a closed or garbled channel (both a
/// quiet end). Errors: "Handshake after Kiv spawn" over a failed connection
/// or handshake; a failed send, unchanged.
[[nodiscard]] Status run_cli_receiver(CliReceiverContext context);

/// The answer to the editor's question about the default open behaviour:
/// 0 without a terminal on standard input or when the prompt fails, else
/// what the user picks.
ipc::DefaultOpenBehavior choose_default_open_behavior();

/// Starts "CliReceiver" running run_cli_receiver.
JoinHandle<Status> spawn_cli_receiver(CliReceiverContext context);

}  // namespace kiv
