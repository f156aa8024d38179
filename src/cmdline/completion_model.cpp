#include "cmdline/completion_model.hpp"

#include "base/panic.hpp"

namespace kiv::cmdline::completion {
namespace {

// One line of help for shells that show descriptions: the short help, its
// line breaks made blanks.
std::string one_line(const Arg& arg) {
  std::string text = arg.help() ? *arg.help() : arg.long_help() ? *arg.long_help() : std::string();
  std::string out;
  for (char c : text) {
    bool space = c == '\n' || c == '\r' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

Values values_of(const Arg& arg) {
  Values values;
  values.names = arg.value_names();
  const ValueParser& parser = arg.value_parser();
  if (parser.type == ValueType::Enum) {
    values.kind = ValueKind::Choices;
    for (const PossibleValue& v : parser.possible_values) values.choices.push_back(v.name);
  } else if (arg.value_hint() == ValueHint::DirPath) {
    values.kind = ValueKind::Dirs;
  }
  return values;
}

}  // namespace

Model model_of(const Command& cmd) {
  if (!cmd.is_built()) panic("completion script of a command that is not built");
  Model model;
  model.program = cmd.display_name();
  for (char c : model.program) {
    bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    model.ident += word ? c : '_';
  }
  for (const Arg& arg : cmd.args()) {
    if (arg.is_positional()) {
      model.positional = Positional{arg.is_trailing(), arg.value_names().front(), values_of(arg), one_line(arg)};
      continue;
    }
    Option option;
    option.long_name = arg.long_name();
    option.short_name = arg.short_name();
    ValueRange range = arg.num_args();
    option.count = range.max == ValueRange::kUnbounded ? kUntilNextOption : static_cast<int>(range.max);
    option.repeatable = arg.action() == ArgAction::Append;
    if (option.count != 0) option.values = values_of(arg);
    option.help = one_line(arg);
    model.options.push_back(std::move(option));
  }
  return model;
}

std::vector<std::string> option_words(const Model& model) {
  std::vector<std::string> words;
  for (const Option& o : model.options)
    if (o.long_name) words.push_back("--" + *o.long_name);
  for (const Option& o : model.options)
    if (o.short_name) words.push_back(std::string("-") + *o.short_name);
  return words;
}

const char* kind_word(ValueKind kind) {
  switch (kind) {
    case ValueKind::Files: return "files";
    case ValueKind::Dirs: return "dirs";
    case ValueKind::Choices: return "choices";
  }
  return "files";
}

std::vector<std::string> names_of(const Option& option) {
  std::vector<std::string> names;
  if (option.long_name) names.push_back("--" + *option.long_name);
  if (option.short_name) names.push_back(std::string("-") + *option.short_name);
  return names;
}

std::string quote_doubling(std::string_view text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    if (c == quote) out += quote;
    out += c;
  }
  return out + quote;
}

std::string quote_escaping(std::string_view text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    if (c == '\\' || c == quote) out += '\\';
    out += c;
  }
  return out + quote;
}

std::string fill_strings(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    char c = tmpl[i];
    if ((c == '{' || c == '}') && i + 1 < tmpl.size() && tmpl[i + 1] == c) {
      out += c;
      ++i;
    } else if (c == '{') {
      std::size_t close = tmpl.find('}', i);
      std::string_view field = tmpl.substr(i + 1, close - i - 1);
      std::size_t index = field.empty() ? next++ : std::stoul(std::string(field));
      if (close == std::string_view::npos || index >= args.size()) panic("completion template out of range");
      out += args.begin()[index];
      i = close;
    } else {
      out += c;
    }
  }
  return out;
}

std::string sh_quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace kiv::cmdline::completion
