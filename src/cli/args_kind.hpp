// The parsed command line of kiv.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

/// The shells --completions can generate for, with their codes.
enum class CompletionShell : std::uint8_t {
  Bash = 0,
  Elvish = 1,
  Fish = 2,
  Nushell = 3,
  PowerShell = 4,
  Zsh = 5,
};

/// One successful parse. Fields in definition order; every text is valid
/// UTF-8 except `kiv`, which keeps the argument's raw bytes.
struct ArgsKind {
  bool wait = false;
  // At most one of these five is true: the last of them given.
  bool add = false;
  bool new_ = false;
  bool reuse = false;
  bool existing = false;
  bool classic = false;
  std::optional<std::string> user_data_dir;
  std::vector<std::string> paths_with_position;
  bool version = false;
  bool foreground = false;
  std::optional<std::string> kiv;
  std::optional<std::string> dev_server_token;
  bool system_specs = false;
  bool debug_state = false;
  bool dev_container = false;
  /// Flattened pairs: entries 2k and 2k+1 are the old and new side of pair k.
  std::vector<std::string> diff;
  std::optional<CompletionShell> completions;
  bool uninstall = false;
  std::optional<std::string> askpass;

  bool operator==(const ArgsKind&) const = default;
};

}  // namespace kiv
