// The definition of a command line as plain data: a command with its
// arguments and groups. The parser, the help and error renderers and the
// shell-completion generators all read the same definition through the
// accessors below; none of them changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/parse_error.hpp"

namespace kiv::cmdline {

class Arg;
class Command;

/// What giving an argument does.
enum class ArgAction : std::uint8_t {
  SetTrue,  // a flag: true when given, false otherwise
  Set,      // takes its values once; a second occurrence is a usage error
  Append,   // every occurrence adds its values to one list
  Help,     // ends the parse with a help request
};

/// What a shell should offer when completing an argument's value.
enum class ValueHint : std::uint8_t {
  Unknown,  // nothing said
  AnyPath,  // files and directories
  DirPath,  // directories
};

/// What each value of an argument must be.
enum class ValueType : std::uint8_t {
  Bool,  // a flag's own value
  Text,  // valid UTF-8; the empty text is accepted
  Path,  // any bytes except the empty value, kept as they are
  Enum,  // one of the parser's possible values, decided by its function
};

/// One accepted value of an enumerated argument.
struct PossibleValue {
  std::string name;
};

/// How the values of an argument are checked and what each becomes.
struct ValueParser {
  /// Parses one value of an enumerated argument into its code, or fails with
  /// the usage error to show. `arg` is the argument whose value it is, when
  /// there is one.
  using EnumParse = std::expected<int, ParseError> (*)(const Command& cmd, const Arg* arg, std::string_view value);

  ValueType type = ValueType::Text;
  /// ValueType::Enum: the accepted values, in the order help lists them.
  std::vector<PossibleValue> possible_values;
  /// ValueType::Enum: the parse of one value.
  EnumParse parse_enum = nullptr;

  static ValueParser boolean() { return {ValueType::Bool, {}, nullptr}; }
  static ValueParser text() { return {ValueType::Text, {}, nullptr}; }
  static ValueParser path() { return {ValueType::Path, {}, nullptr}; }
  static ValueParser enumerated(std::vector<PossibleValue> values, EnumParse parse) {
    return {ValueType::Enum, std::move(values), parse};
  }
};

/// How many values one occurrence takes: exactly `min` when `min == max`,
/// else from `min` up to `max` (kUnbounded: no limit).
struct ValueRange {
  static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();
  std::size_t min = 0;
  std::size_t max = 0;
  bool operator==(const ValueRange&) const = default;
};

/// One argument: an option (with a long and/or a short name) or the
/// positional argument. Built with the chained setters; read with the
/// accessors. Settings left unset get their defaults when the command is
/// built (Command::build).
class Arg {
 public:
  /// An argument with the id `id`, which names it in matches, groups and
  /// overrides. Its value name is the upper-case form of the id until
  /// value_names() says otherwise.
  explicit Arg(std::string id);

  Arg& short_name(char name);
  Arg& long_name(std::string name);
  /// Makes this the positional argument: it has no names and takes the
  /// words that no option takes.
  Arg& positional();
  Arg& value_names(std::vector<std::string> names);
  Arg& num_args(ValueRange range);
  Arg& action(ArgAction action);
  /// Positional only: the first value switches the parse into trailing
  /// mode, where every later word is a value of this argument.
  Arg& trailing(bool on = true);
  /// Left out of help and usage lines, still parsed and still suggested.
  Arg& hidden(bool on = true);
  /// When this argument is given, the arguments `ids` given before it are
  /// dropped as if they had not been given.
  Arg& overrides_with(std::vector<std::string> ids);
  Arg& help(std::string text);
  Arg& long_help(std::string text);
  Arg& value_hint(ValueHint hint);
  Arg& value_parser(ValueParser parser);
  /// Whether enumerated values match ignoring ASCII case.
  Arg& ignore_case(bool on = true);

  const std::string& id() const { return id_; }
  std::optional<char> short_name() const { return short_; }
  const std::optional<std::string>& long_name() const { return long_; }
  bool is_positional() const { return positional_; }
  const std::vector<std::string>& value_names() const { return value_names_; }
  /// The values per occurrence (defaults: none for flags and help, one for
  /// Set and Append).
  ValueRange num_args() const;
  ArgAction action() const { return action_; }
  bool is_trailing() const { return trailing_; }
  bool is_hidden() const { return hidden_; }
  const std::vector<std::string>& overrides() const { return overrides_; }
  const std::optional<std::string>& help() const { return help_; }
  const std::optional<std::string>& long_help() const { return long_help_; }
  ValueHint value_hint() const { return value_hint_; }
  /// The value parser (defaults: Bool for flags and help, Text otherwise).
  const ValueParser& value_parser() const;
  bool is_ignore_case() const { return ignore_case_; }

  /// Whether an occurrence takes values (an option with values, or the
  /// positional argument).
  bool takes_values() const { return num_args().max > 0; }
  /// Whether help text differs between -h and --help for this argument.
  bool has_long_help() const { return long_help_.has_value(); }
  /// The display form used in messages and usage lines: "--wait",
  /// "--user-data-dir <DIR>", "--diff <OLD_PATH> <NEW_PATH>", and for the
  /// positional argument "[PATHS_WITH_POSITION]...".
  std::string display() const;
  /// The value names as shown after the option's name (" <DIR>"), or the
  /// positional argument's whole form; empty for flags.
  std::string value_suffix() const;

 private:
  friend class Command;

  std::string id_;
  std::optional<char> short_;
  std::optional<std::string> long_;
  bool positional_ = false;
  std::vector<std::string> value_names_;
  std::optional<ValueRange> num_args_;
  ArgAction action_ = ArgAction::SetTrue;
  bool trailing_ = false;
  bool hidden_ = false;
  std::vector<std::string> overrides_;
  std::optional<std::string> help_;
  std::optional<std::string> long_help_;
  ValueHint value_hint_ = ValueHint::Unknown;
  std::optional<ValueParser> value_parser_;
  bool ignore_case_ = false;
  // Filled by Command::build: positions in Command::args().
  std::vector<std::size_t> override_indices_;
  std::vector<std::size_t> group_indices_;
};

/// A named set of arguments. The groups this model supports allow several
/// members at once and are never required, so they only shape usage lines.
struct ArgGroup {
  std::string id;
  std::vector<std::string> members;
  bool multiple = true;
  bool required = false;
};

/// A command: its name, texts, settings, groups and arguments.
class Command {
 public:
  explicit Command(std::string name);

  /// The name shown in usage lines and generated scripts in place of the
  /// command's name.
  Command& program_name(std::string name);
  /// Text printed above the usage line of both help outputs.
  Command& before_help(std::string text);
  /// Text printed at the end of both help outputs.
  Command& after_help(std::string text);
  /// Whether a built-in version flag is switched off. The model has no
  /// version text, so no built-in version flag is ever added; the switch is
  /// recorded so that every reader of the definition sees it stated.
  Command& disable_version_flag(bool on = true);
  Command& group(ArgGroup group);
  Command& arg(Arg arg);

  /// Finishes the definition: fills defaults, resolves overrides and groups,
  /// and adds the built-in help flag (-h, --help) as the last argument. A
  /// definition that breaks the model's rules (a duplicate id or name, an
  /// unknown id, a short name on an option with values, a second
  /// positional, an unsupported value range) stops the process with status
  /// 101. Building twice does nothing more.
  Command& build();

  const std::string& name() const { return name_; }
  /// The program name when set, else the command's name.
  const std::string& display_name() const { return program_name_ ? *program_name_ : name_; }
  const std::optional<std::string>& program_name() const { return program_name_; }
  const std::optional<std::string>& before_help() const { return before_help_; }
  const std::optional<std::string>& after_help() const { return after_help_; }
  bool is_version_flag_disabled() const { return version_flag_disabled_; }
  const std::vector<ArgGroup>& groups() const { return groups_; }
  /// Every argument in definition order; after build() the help flag last.
  const std::vector<Arg>& args() const { return args_; }
  bool is_built() const { return built_; }

  /// Whether --help shows more than -h: some visible argument has a long
  /// help text. Valid after build().
  bool long_help_exists() const { return long_help_exists_; }
  /// Positions in args(), or nothing.
  std::optional<std::size_t> find_long(std::string_view name) const;
  std::optional<std::size_t> find_short(char32_t name) const;
  std::optional<std::size_t> find_id(std::string_view id) const;
  std::optional<std::size_t> positional_index() const { return positional_; }
  /// Positions in groups() of the groups `arg_index` belongs to.
  const std::vector<std::size_t>& groups_of(std::size_t arg_index) const { return args_[arg_index].group_indices_; }
  /// Positions in args() of the arguments that `arg_index` drops when given.
  const std::vector<std::size_t>& overrides_of(std::size_t arg_index) const {
    return args_[arg_index].override_indices_;
  }

 private:
  std::string name_;
  std::optional<std::string> program_name_;
  std::optional<std::string> before_help_;
  std::optional<std::string> after_help_;
  bool version_flag_disabled_ = false;
  std::vector<ArgGroup> groups_;
  std::vector<Arg> args_;
  bool built_ = false;
  bool long_help_exists_ = false;
  std::optional<std::size_t> positional_;
};

}  // namespace kiv::cmdline
