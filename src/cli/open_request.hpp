// The open path's first half: from the parsed command line to the values of
// one open request and the resources that go with it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/unique_fd.hpp"
#include "cli/args_kind.hpp"
#include "cli/copy.hpp"
#include "cli/exit_status_slot.hpp"
#include "ipc/messages.hpp"
#include "ipc/one_shot_server.hpp"

namespace kiv {

/// Everything the exchange thread is given, owned by it once it starts.
struct CliReceiverContext {
  std::vector<std::string> paths;
  std::vector<std::string> urls;
  std::vector<ipc::DiffPair> diff_paths;
  std::optional<std::string> user_data_dir;
  ipc::IpcOneShotServer one_shot_server;
  SharedExitStatusSlot exit_status_slot;
  std::optional<ipc::EnvEntries> env;
  bool diff_has_directory = false;
  bool wait = false;
  bool debug_state = false;
  bool dev_container = false;
  ipc::OpenBehavior open_behavior = ipc::OpenBehavior::Default;
};

/// The assembled open request: the exchange's context, the hand-over URL,
/// and the descriptors for the copy threads.
struct OpenRequest {
  CliReceiverContext context;
  std::string url;
  std::optional<UniqueFd> stdin_target;
  std::vector<RelayPair> relay_pairs;
};

/// The open behaviour the five flags select (at most one is set).
ipc::OpenBehavior open_behavior_from_flags(const ArgsKind& args);

/// Where kiv's documentation says what became of dev servers: the README's
/// section on what kiv does not do.
inline constexpr const char* REMOTE_DEVELOPMENT_DOCS = "README.md#what-kiv-does-not-do-yet";

/// Assembles the open request from `args`, in this order: the one-shot
/// server ("Handshake before Kiv spawn" over its error), the URL, the open
/// behaviour, the environment (only when `stdout_is_terminal`), the slot,
/// the --diff pairs (parsed, tested, expanded; expansion directories kept on
/// disk), the positional arguments (URLs, "-", memfds, paths; temporary files
/// kept on disk), and last the refusal of --dev-server-token. On a failure
/// everything made so far is released, except files already kept.
[[nodiscard]] Result<OpenRequest> assemble_open_request(const ArgsKind& args, bool stdout_is_terminal);

}  // namespace kiv
