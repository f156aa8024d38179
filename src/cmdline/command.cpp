#include "cmdline/command.hpp"

#include <algorithm>

#include "base/panic.hpp"

namespace kiv::cmdline {
namespace {

std::string upper_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool is_flag_action(ArgAction action) { return action == ArgAction::SetTrue || action == ArgAction::Help; }

[[noreturn]] void bad_definition(const std::string& command, const std::string& what) {
  panic("command " + command + ": " + what);
}

}  // namespace

Arg::Arg(std::string id) : id_(std::move(id)) { value_names_.push_back(upper_ascii(id_)); }

Arg& Arg::short_name(char name) {
  short_ = name;
  return *this;
}
Arg& Arg::long_name(std::string name) {
  long_ = std::move(name);
  return *this;
}
Arg& Arg::positional() {
  positional_ = true;
  return *this;
}
Arg& Arg::value_names(std::vector<std::string> names) {
  value_names_ = std::move(names);
  return *this;
}
Arg& Arg::num_args(ValueRange range) {
  num_args_ = range;
  return *this;
}
Arg& Arg::action(ArgAction action) {
  action_ = action;
  return *this;
}
Arg& Arg::trailing(bool on) {
  trailing_ = on;
  return *this;
}
Arg& Arg::hidden(bool on) {
  hidden_ = on;
  return *this;
}
Arg& Arg::overrides_with(std::vector<std::string> ids) {
  overrides_ = std::move(ids);
  return *this;
}
Arg& Arg::help(std::string text) {
  help_ = std::move(text);
  return *this;
}
Arg& Arg::long_help(std::string text) {
  long_help_ = std::move(text);
  return *this;
}
Arg& Arg::value_hint(ValueHint hint) {
  value_hint_ = hint;
  return *this;
}
Arg& Arg::value_parser(ValueParser parser) {
  value_parser_ = std::move(parser);
  return *this;
}
Arg& Arg::ignore_case(bool on) {
  ignore_case_ = on;
  return *this;
}

ValueRange Arg::num_args() const {
  if (num_args_) return *num_args_;
  return is_flag_action(action_) ? ValueRange{0, 0} : ValueRange{1, 1};
}

const ValueParser& Arg::value_parser() const {
  static const ValueParser boolean = ValueParser::boolean();
  static const ValueParser text = ValueParser::text();
  if (value_parser_) return *value_parser_;
  return is_flag_action(action_) ? boolean : text;
}

std::string Arg::value_suffix() const {
  if (!takes_values() && !positional_) return "";
  ValueRange range = num_args();
  std::string out;
  bool optional_values = range.min == 0;
  if (!positional_) out += optional_values ? " [" : " ";

  std::vector<std::string> names = value_names_;
  if (names.size() == 1) names.assign(std::max<std::size_t>(range.min, 1), names.front());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ' ';
    // A positional argument here is never required, so it shows in brackets.
    out += positional_ ? "[" + names[i] + "]" : "<" + names[i] + ">";
  }
  if (names.size() < range.max || (positional_ && action_ == ArgAction::Append)) out += "...";
  if (!positional_ && optional_values) out += "]";
  return out;
}

std::string Arg::display() const {
  std::string out;
  if (long_) {
    out = "--" + *long_;
  } else if (short_) {
    out = std::string("-") + *short_;
  }
  return out + value_suffix();
}

Command::Command(std::string name) : name_(std::move(name)) {}

Command& Command::program_name(std::string name) {
  program_name_ = std::move(name);
  return *this;
}
Command& Command::before_help(std::string text) {
  before_help_ = std::move(text);
  return *this;
}
Command& Command::after_help(std::string text) {
  after_help_ = std::move(text);
  return *this;
}
Command& Command::disable_version_flag(bool on) {
  version_flag_disabled_ = on;
  return *this;
}
Command& Command::group(ArgGroup group) {
  if (built_) bad_definition(name_, "group added after build");
  groups_.push_back(std::move(group));
  return *this;
}
Command& Command::arg(Arg arg) {
  if (built_) bad_definition(name_, "argument added after build");
  args_.push_back(std::move(arg));
  return *this;
}

Command& Command::build() {
  if (built_) return *this;

  for (const Arg& a : args_) {
    if (a.positional_) {
      if (a.short_ || a.long_) bad_definition(name_, "positional argument " + a.id_ + " has a name");
      if (positional_) bad_definition(name_, "a second positional argument " + a.id_);
      if (a.action_ != ArgAction::Append) bad_definition(name_, "positional argument " + a.id_ + " must append");
      positional_ = static_cast<std::size_t>(&a - args_.data());
    } else if (!a.short_ && !a.long_) {
      bad_definition(name_, "argument " + a.id_ + " has neither a name nor a position");
    }
    if (a.trailing_ && !a.positional_) bad_definition(name_, "only the positional argument can be trailing");
    if (a.short_ && !is_flag_action(a.action_)) bad_definition(name_, "short name of " + a.id_ + " on an option with values");
    ValueRange range = a.num_args();
    if (is_flag_action(a.action_)) {
      if (range != ValueRange{0, 0}) bad_definition(name_, "flag " + a.id_ + " takes values");
    } else if (range.min == 0 || (range.min != range.max && !(range.min == 1 && range.max == ValueRange::kUnbounded))) {
      bad_definition(name_, "unsupported number of values for " + a.id_);
    }
    if (a.value_names_.empty()) bad_definition(name_, "argument " + a.id_ + " has no value name");
    const ValueParser& parser = a.value_parser();
    if (parser.type == ValueType::Enum) {
      if (parser.parse_enum == nullptr) bad_definition(name_, "enumerated argument " + a.id_ + " has no parse");
      for (const PossibleValue& v : parser.possible_values) {
        if (v.name.empty() || v.name.find_first_of(" \t\n\r\f\v") != std::string::npos)
          bad_definition(name_, "possible value of " + a.id_ + " is empty or holds whitespace");
      }
    }
  }

  for (std::size_t i = 0; i < args_.size(); ++i) {
    for (std::size_t j = i + 1; j < args_.size(); ++j) {
      const Arg& a = args_[i];
      const Arg& b = args_[j];
      if (a.id_ == b.id_) bad_definition(name_, "duplicate id " + a.id_);
      if (a.long_ && a.long_ == b.long_) bad_definition(name_, "duplicate long name --" + *a.long_);
      if (a.short_ && a.short_ == b.short_) bad_definition(name_, std::string("duplicate short name -") + *a.short_);
    }
  }

  long_help_exists_ = std::any_of(args_.begin(), args_.end(), [](const Arg& a) { return !a.hidden_ && a.long_help_; });

  // The built-in help flag, placed last.
  Arg help_flag("help");
  help_flag.short_name('h').long_name("help").action(ArgAction::Help);
  if (long_help_exists_) {
    help_flag.help("Print help (see more with '--help')").long_help("Print help (see a summary with '-h')");
  } else {
    help_flag.help("Print help");
  }
  if (find_id("help") || find_long("help") || find_short('h')) bad_definition(name_, "-h, --help or the id help is taken");
  args_.push_back(std::move(help_flag));

  for (Arg& a : args_) {
    for (const std::string& id : a.overrides_) {
      std::optional<std::size_t> index = find_id(id);
      if (!index) bad_definition(name_, "override of unknown id " + id);
      a.override_indices_.push_back(*index);
    }
  }
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    const ArgGroup& group = groups_[g];
    if (!group.multiple || group.required) bad_definition(name_, "group " + group.id + " must allow several members and not be required");
    if (find_id(group.id)) bad_definition(name_, "group id " + group.id + " is also an argument id");
    for (std::size_t h = g + 1; h < groups_.size(); ++h)
      if (groups_[h].id == group.id) bad_definition(name_, "duplicate group " + group.id);
    for (const std::string& id : group.members) {
      std::optional<std::size_t> index = find_id(id);
      if (!index) bad_definition(name_, "group member of unknown id " + id);
      args_[*index].group_indices_.push_back(g);
    }
  }
  built_ = true;
  return *this;
}

std::optional<std::size_t> Command::find_long(std::string_view name) const {
  for (std::size_t i = 0; i < args_.size(); ++i)
    if (args_[i].long_ && *args_[i].long_ == name) return i;
  return std::nullopt;
}

std::optional<std::size_t> Command::find_short(char32_t name) const {
  for (std::size_t i = 0; i < args_.size(); ++i)
    if (args_[i].short_ && static_cast<char32_t>(static_cast<unsigned char>(*args_[i].short_)) == name) return i;
  return std::nullopt;
}

std::optional<std::size_t> Command::find_id(std::string_view id) const {
  for (std::size_t i = 0; i < args_.size(); ++i)
    if (args_[i].id_ == id) return i;
  return std::nullopt;
}

}  // namespace kiv::cmdline
