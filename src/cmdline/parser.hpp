// The parse of raw argument bytes against a built Command.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cmdline/command.hpp"
#include "cmdline/parse_error.hpp"

namespace kiv::cmdline {

/// One argument that a successful parse found, with its values in
/// command-line order: raw bytes as given (valid UTF-8 for text values) and,
/// for an enumerated argument, the code of each value.
struct MatchedArg {
  std::string id;
  std::vector<std::string> values;
  std::vector<int> codes;
};

/// The arguments a successful parse found, in the order they were first
/// recorded. An argument dropped by an override is absent.
class Matches {
 public:
  explicit Matches(std::vector<MatchedArg> args) : args_(std::move(args)) {}

  /// Whether the argument `id` was given (and not dropped).
  bool get_flag(std::string_view id) const { return find(id) != nullptr; }
  /// The first value of `id`, or nothing when it was not given.
  const std::string* get_one(std::string_view id) const;
  /// Every value of `id`; empty when it was not given.
  std::span<const std::string> get_many(std::string_view id) const;
  /// The code of the first value of the enumerated argument `id`.
  std::optional<int> get_code(std::string_view id) const;
  const std::vector<MatchedArg>& args() const { return args_; }

 private:
  const MatchedArg* find(std::string_view id) const;
  std::vector<MatchedArg> args_;
};

/// -h (short help) or --help (long help) was read.
struct HelpRequest {
  bool long_help = false;
  bool operator==(const HelpRequest&) const = default;
};

/// Why a parse ended without matches.
using ParseFailure = std::variant<HelpRequest, ParseError>;

/// Parses `raw_args` against `cmd` (built). The first element is the
/// program name and is never parsed. Fails with the help request or the
/// first usage error, in command-line order. Renders nothing.
[[nodiscard]] std::expected<Matches, ParseFailure> parse(const Command& cmd, std::span<const std::string> raw_args);

/// The program name that usage lines show for `arg0`: its last path
/// component when there is one and it is valid UTF-8 (trailing "/" and "."
/// components ignored; nothing for "", ".", "/" or a path ending in "..").
std::optional<std::string> program_name_of(std::string_view arg0);

/// The invalid-value error of an enumerated value: names `value` (made valid
/// UTF-8) and `arg` in its display form ("..." without an argument), lists
/// `possible_values`, and suggests the most similar of them. An empty value
/// reads "a value is required for ...".
ParseError invalid_value_error(const Arg* arg, std::string_view value, std::vector<std::string> possible_values);

}  // namespace kiv::cmdline
