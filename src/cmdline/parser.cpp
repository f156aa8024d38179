#include "cmdline/parser.hpp"

#include <algorithm>

#include "base/panic.hpp"
#include "base/text.hpp"
#include "cmdline/similarity.hpp"

namespace kiv::cmdline {
namespace {

// How an argument was named where it was given; only --help versus -h
// depends on it.
enum class Ident : std::uint8_t { Long, Short, Position, Value };

using Step = std::expected<void, ParseFailure>;

std::unexpected<ParseFailure> failure(ParseError error) { return std::unexpected(ParseFailure(std::move(error))); }

class Parser {
 public:
  explicit Parser(const Command& cmd) : cmd_(cmd) {}

  std::expected<Matches, ParseFailure> run(std::span<const std::string> raw_args);

 private:
  // What the parser has recorded as given so far: arguments with their
  // values, and the groups of those arguments. Order is first recording.
  struct Recorded {
    UsageId id;
    std::vector<std::string> values;
    std::vector<int> codes;
  };
  // An option (or the positional argument) whose values are being collected;
  // they are checked only when the next recognised word or the end arrives.
  struct Pending {
    std::size_t arg;
    Ident ident;
    std::vector<std::string> values;
  };

  const Arg& arg_at(std::size_t index) const { return cmd_.args()[index]; }
  Recorded* recorded_arg(std::size_t index);
  bool remove(std::size_t index);
  void remove_overrides(std::size_t index);
  void record(std::size_t index);
  std::vector<UsageId> recorded_usage(bool keep_groups) const;

  Step react(std::size_t index, Ident ident, std::vector<std::string> values);
  Step resolve_pending();
  Step verify_count(const Arg& arg, std::size_t count) const;
  Step push_values(std::size_t index, std::vector<std::string> values);
  bool needs_more_values(std::size_t index) const;

  Step parse_long(std::string_view body);
  Step parse_short_cluster(std::string_view cluster);
  ParseError unknown_long(std::string_view name);
  ParseError unknown_short(std::string piece);
  ParseError unexpected_value(std::size_t index, std::string_view value);

  const Command& cmd_;
  std::vector<Recorded> recorded_;
  std::optional<Pending> pending_;
  std::optional<std::size_t> waiting_option_;  // an option that still wants values
  bool trailing_ = false;
};

Parser::Recorded* Parser::recorded_arg(std::size_t index) {
  for (Recorded& r : recorded_)
    if (!r.id.is_group && r.id.index == index) return &r;
  return nullptr;
}

bool Parser::remove(std::size_t index) {
  auto it = std::find_if(recorded_.begin(), recorded_.end(),
                         [&](const Recorded& r) { return !r.id.is_group && r.id.index == index; });
  if (it == recorded_.end()) return false;
  recorded_.erase(it);
  return true;
}

void Parser::remove_overrides(std::size_t index) {
  for (std::size_t overridden : cmd_.overrides_of(index)) remove(overridden);
  // And whatever would override this one.
  std::vector<std::size_t> overriders;
  for (const Recorded& r : recorded_) {
    if (r.id.is_group) continue;
    const auto& its = cmd_.overrides_of(r.id.index);
    if (std::find(its.begin(), its.end(), index) != its.end()) overriders.push_back(r.id.index);
  }
  for (std::size_t o : overriders) remove(o);
}

void Parser::record(std::size_t index) {
  remove_overrides(index);
  if (recorded_arg(index) == nullptr) recorded_.push_back({UsageId{false, index}, {}, {}});
  for (std::size_t group : cmd_.groups_of(index)) {
    UsageId id{true, group};
    bool present = std::any_of(recorded_.begin(), recorded_.end(), [&](const Recorded& r) { return r.id == id; });
    if (!present) recorded_.push_back({id, {}, {}});
  }
}

std::vector<UsageId> Parser::recorded_usage(bool keep_groups) const {
  std::vector<UsageId> ids;
  for (const Recorded& r : recorded_) {
    if (r.id.is_group ? !keep_groups : arg_at(r.id.index).is_hidden()) continue;
    ids.push_back(r.id);
  }
  return ids;
}

Step Parser::verify_count(const Arg& arg, std::size_t count) const {
  ValueRange range = arg.num_args();
  if (range.min > 0 && count == 0) {
    std::vector<std::string> possible;
    for (const PossibleValue& v : arg.value_parser().possible_values) possible.push_back(v.name);
    return failure(invalid_value_error(&arg, "", std::move(possible)));
  }
  if (range.min == range.max && count != range.min) {
    ParseError error;
    error.kind = ErrorKind::WrongNumberOfValues;
    error.argument = arg.display();
    error.expected_values = range.min;
    error.actual_values = count;
    error.usage = UsageForm::Plain;
    return failure(std::move(error));
  }
  return {};
}

Step Parser::push_values(std::size_t index, std::vector<std::string> values) {
  const Arg& arg = arg_at(index);
  const ValueParser& parser = arg.value_parser();
  for (std::string& value : values) {
    int code = 0;
    switch (parser.type) {
      case ValueType::Bool: continue;  // a flag: being recorded is its value
      case ValueType::Text:
        if (!is_valid_utf8(value)) {
          ParseError error;
          error.kind = ErrorKind::InvalidUtf8;
          error.usage = UsageForm::Plain;
          return failure(std::move(error));
        }
        break;
      case ValueType::Path:
        if (value.empty()) return failure(invalid_value_error(&arg, "", {}));
        break;
      case ValueType::Enum: {
        std::expected<int, ParseError> parsed = parser.parse_enum(cmd_, &arg, value);
        if (!parsed) return failure(std::move(parsed).error());
        code = *parsed;
        break;
      }
    }
    Recorded* r = recorded_arg(index);
    KIV_ASSERT(r != nullptr);  // recorded before its values arrive
    r->values.push_back(std::move(value));
    if (parser.type == ValueType::Enum) r->codes.push_back(code);
  }
  return {};
}

Step Parser::react(std::size_t index, Ident ident, std::vector<std::string> values) {
  if (auto step = resolve_pending(); !step) return step;
  const Arg& arg = arg_at(index);
  if (auto step = verify_count(arg, values.size()); !step) return step;

  switch (arg.action()) {
    case ArgAction::Help: return std::unexpected(ParseFailure(HelpRequest{ident == Ident::Long}));
    case ArgAction::SetTrue:
    case ArgAction::Set:
      // The earlier occurrence is gone even though this one fails: an error
      // that is dropped in favour of a later one leaves that state behind.
      if (remove(index)) {
        ParseError error;
        error.kind = ErrorKind::ArgumentRepeated;
        error.argument = arg.display();
        error.usage = UsageForm::Plain;
        return failure(std::move(error));
      }
      break;
    case ArgAction::Append: break;
  }
  record(index);
  return push_values(index, std::move(values));
}

Step Parser::resolve_pending() {
  if (!pending_) return {};
  Pending pending = std::move(*pending_);
  pending_.reset();
  return react(pending.arg, pending.ident, std::move(pending.values));
}

bool Parser::needs_more_values(std::size_t index) const {
  std::size_t have = pending_ && pending_->arg == index ? pending_->values.size() : 0;
  return have < arg_at(index).num_args().max;
}

ParseError Parser::unknown_long(std::string_view name) {
  // The values still pending are checked for their side effects alone; the
  // unknown word is the error shown.
  (void)resolve_pending();
  std::vector<std::string_view> longs;
  for (const Arg& a : cmd_.args())
    if (a.long_name()) longs.push_back(*a.long_name());
  std::optional<std::string> similar = most_similar(name, longs);
  // The suggestion is recorded as if given, so that the usage line shows
  // the command line as it would be with the suggestion taken.
  if (similar) record(*cmd_.find_long(*similar));

  ParseError error;
  error.kind = ErrorKind::UnknownArgument;
  error.argument = "--" + std::string(name);
  if (similar) error.suggestion = "--" + *similar;
  std::optional<std::size_t> positional = cmd_.positional_index();
  error.escape_tip = (!similar || (positional && arg_at(*positional).is_trailing())) && !trailing_ && positional.has_value();
  error.usage = UsageForm::Context;
  error.usage_ids = recorded_usage(false);
  return error;
}

ParseError Parser::unknown_short(std::string piece) {
  (void)resolve_pending();
  ParseError error;
  error.kind = ErrorKind::UnknownArgument;
  error.argument = std::move(piece);
  error.escape_tip = !trailing_ && cmd_.positional_index().has_value();
  error.usage = UsageForm::Plain;
  return error;
}

ParseError Parser::unexpected_value(std::size_t index, std::string_view value) {
  // The usage shows what was recorded before this word, groups included,
  // and then the flag itself even when it is hidden.
  std::vector<UsageId> ids = recorded_usage(true);
  ids.push_back(UsageId{false, index});
  (void)resolve_pending();
  ParseError error;
  error.kind = ErrorKind::UnexpectedValue;
  error.argument = arg_at(index).display();
  error.value = utf8_lossy(value);
  error.usage = UsageForm::Context;
  error.usage_ids = std::move(ids);
  return error;
}

Step Parser::parse_long(std::string_view body) {
  std::size_t eq = body.find('=');
  std::string_view name = body.substr(0, eq);
  std::optional<std::string_view> attached;
  if (eq != std::string_view::npos) attached = body.substr(eq + 1);

  if (!is_valid_utf8(name)) return failure(unknown_long(utf8_lossy(name)));
  std::optional<std::size_t> index = cmd_.find_long(name);
  if (!index) return failure(unknown_long(name));

  const Arg& arg = arg_at(*index);
  if (arg.takes_values()) {
    if (attached) {
      waiting_option_.reset();
      return react(*index, Ident::Long, {std::string(*attached)});
    }
    if (auto step = resolve_pending(); !step) return step;
    pending_ = Pending{*index, Ident::Long, {}};
    waiting_option_ = *index;
    return {};
  }
  if (attached) return failure(unexpected_value(*index, *attached));
  waiting_option_.reset();
  return react(*index, Ident::Long, {});
}

Step Parser::parse_short_cluster(std::string_view cluster) {
  std::size_t valid = valid_utf8_prefix(cluster);
  std::string_view flags = cluster.substr(0, valid);
  while (!flags.empty()) {
    Utf8Step name = decode_utf8_step(flags);
    std::optional<std::size_t> index = cmd_.find_short(name.cp);
    if (!index) return failure(unknown_short("-" + std::string(flags.substr(0, name.length))));
    // Every short name is a flag (Command::build makes sure), so each takes
    // effect at once.
    waiting_option_.reset();
    if (auto step = react(*index, Ident::Short, {}); !step) return step;
    flags.remove_prefix(name.length);
  }
  if (valid < cluster.size()) return failure(unknown_short("-" + utf8_lossy(cluster.substr(valid))));
  return {};
}

std::expected<Matches, ParseFailure> Parser::run(std::span<const std::string> raw_args) {
  for (std::size_t i = 1; i < raw_args.size(); ++i) {
    std::string_view word = raw_args[i];
    if (!trailing_) {
      if (word == "--") {
        trailing_ = true;
        continue;
      }
      if (word.size() > 2 && word.starts_with("--")) {
        if (auto step = parse_long(word.substr(2)); !step) return std::unexpected(std::move(step).error());
        continue;
      }
      if (word.size() > 1 && word[0] == '-') {
        if (auto step = parse_short_cluster(word.substr(1)); !step) return std::unexpected(std::move(step).error());
        continue;
      }
      if (waiting_option_) {
        pending_->values.emplace_back(word);
        if (!needs_more_values(*waiting_option_)) waiting_option_.reset();
        continue;
      }
    }

    std::optional<std::size_t> positional = cmd_.positional_index();
    if (!positional) {
      (void)resolve_pending();
      ParseError error;
      error.kind = ErrorKind::UnknownArgument;
      error.argument = utf8_lossy(word);
      error.usage = UsageForm::Plain;
      return std::unexpected(ParseFailure(std::move(error)));
    }
    const Arg& arg = arg_at(*positional);
    if (arg.is_trailing()) trailing_ = true;
    bool multiple = arg.num_args().max > 1;
    if (!pending_ || pending_->arg != *positional || !multiple) {
      if (auto step = resolve_pending(); !step) return std::unexpected(std::move(step).error());
      pending_ = Pending{*positional, Ident::Position, {}};
    }
    waiting_option_.reset();
    pending_->values.emplace_back(word);
  }
  if (auto step = resolve_pending(); !step) return std::unexpected(std::move(step).error());

  std::vector<MatchedArg> matched;
  matched.reserve(recorded_.size());
  for (Recorded& r : recorded_) {
    if (r.id.is_group) continue;
    matched.push_back({arg_at(r.id.index).id(), std::move(r.values), std::move(r.codes)});
  }
  return Matches(std::move(matched));
}

}  // namespace

const MatchedArg* Matches::find(std::string_view id) const {
  for (const MatchedArg& a : args_)
    if (a.id == id) return &a;
  return nullptr;
}

const std::string* Matches::get_one(std::string_view id) const {
  const MatchedArg* a = find(id);
  if (a == nullptr || a->values.empty()) return nullptr;
  return &a->values.front();
}

std::span<const std::string> Matches::get_many(std::string_view id) const {
  const MatchedArg* a = find(id);
  if (a == nullptr) return {};
  return a->values;
}

std::optional<int> Matches::get_code(std::string_view id) const {
  const MatchedArg* a = find(id);
  if (a == nullptr || a->codes.empty()) return std::nullopt;
  return a->codes.front();
}

std::expected<Matches, ParseFailure> parse(const Command& cmd, std::span<const std::string> raw_args) {
  if (!cmd.is_built()) panic("parse of a command that was not built");
  return Parser(cmd).run(raw_args);
}

std::optional<std::string> program_name_of(std::string_view arg0) {
  // The last component, ignoring empty and "." components as path
  // component iteration does.
  std::string_view last;
  bool found = false;
  std::size_t start = 0;
  while (start <= arg0.size()) {
    std::size_t slash = arg0.find('/', start);
    std::size_t end = slash == std::string_view::npos ? arg0.size() : slash;
    std::string_view component = arg0.substr(start, end - start);
    if (!component.empty() && component != ".") {
      last = component;
      found = true;
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (!found || last == ".." || !is_valid_utf8(last)) return std::nullopt;
  return std::string(last);
}

ParseError invalid_value_error(const Arg* arg, std::string_view value, std::vector<std::string> possible_values) {
  ParseError error;
  error.kind = ErrorKind::InvalidValue;
  error.argument = arg ? arg->display() : "...";
  error.value = utf8_lossy(value);
  std::vector<std::string_view> candidates(possible_values.begin(), possible_values.end());
  error.suggestion = most_similar(error.value, candidates);
  error.possible_values = std::move(possible_values);
  error.usage = UsageForm::None;
  return error;
}

}  // namespace kiv::cmdline
