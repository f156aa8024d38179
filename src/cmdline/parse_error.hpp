// A usage error found while parsing, as data: what went wrong and what the
// message needs. Rendering it into text is a separate step (render_error),
// done only when the error is printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::cmdline {

/// The kinds of usage error.
enum class ErrorKind : std::uint8_t {
  UnknownArgument,      // "unexpected argument '-x' found"
  ArgumentRepeated,     // "the argument '--wait' cannot be used multiple times"
  WrongNumberOfValues,  // "2 values required for '...' but 1 was provided"
  InvalidValue,         // "invalid value 'V' for '...'"; for an empty value "a value is required for ..."
  UnexpectedValue,      // "unexpected value 'V' for '--wait' found; no more were expected"
  InvalidUtf8,          // "invalid UTF-8 was detected in one or more arguments"
};

/// Which usage line an error shows.
enum class UsageForm : std::uint8_t {
  None,     // no usage line
  Plain,    // the usage line of the help output
  Context,  // built from `ParseError::usage_ids`
};

/// An argument or a group of a Command, by its position in Command::args()
/// or Command::groups().
struct UsageId {
  bool is_group = false;
  std::size_t index = 0;
  bool operator==(const UsageId&) const = default;
};

/// One usage error. Every text in it is valid UTF-8: bytes from the command
/// line that are not were made so (U+FFFD per ill-formed subpart).
struct ParseError {
  ErrorKind kind = ErrorKind::UnknownArgument;
  /// The argument the message names: the piece as typed for an unknown
  /// argument ("--wai", "-x"), otherwise the argument's display form
  /// ("--user-data-dir <DIR>").
  std::string argument;
  /// The offending value (InvalidValue, UnexpectedValue).
  std::string value;
  /// The accepted values listed under the message (InvalidValue).
  std::vector<std::string> possible_values;
  /// A similar argument ("--wait") or value ("bash") to suggest.
  std::optional<std::string> suggestion;
  /// Whether to add the tip on passing the argument as a value after "--".
  bool escape_tip = false;
  /// WrongNumberOfValues: the count required and the count given.
  std::size_t expected_values = 0;
  std::size_t actual_values = 0;
  UsageForm usage = UsageForm::None;
  /// UsageForm::Context: what the usage line shows, in order.
  std::vector<UsageId> usage_ids;

  bool operator==(const ParseError&) const = default;
};

}  // namespace kiv::cmdline
