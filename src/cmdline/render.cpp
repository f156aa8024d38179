#include "cmdline/render.hpp"

#include <algorithm>
#include <vector>

#include "base/panic.hpp"
#include "cmdline/styled.hpp"
#include "cmdline/wrap.hpp"

namespace kiv::cmdline {
namespace {

constexpr std::size_t kNextLineIndent = 10;  // two blanks of the name column and eight more

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\v'; }

void trim_end(std::string& s) {
  std::size_t n = s.size();
  while (n > 0 && is_white(s[n - 1])) --n;
  s.resize(n);
}

// The name of an option in the literal style, then its value names plain.
void push_styled_display(std::string& out, const Arg& arg) {
  if (arg.long_name()) {
    push_styled(out, Style::Literal, "--" + *arg.long_name());
  } else if (arg.short_name()) {
    push_styled(out, Style::Literal, std::string("-") + *arg.short_name());
  }
  out += arg.value_suffix();
}

bool needs_options_tag(const Command& cmd) {
  for (const Arg& arg : cmd.args()) {
    if (arg.is_positional() || arg.is_hidden() || arg.action() == ArgAction::Help) continue;
    if (arg.long_name() == "help" || arg.long_name() == "version") continue;
    return true;
  }
  return false;
}

void push_help_usage(std::string& out, const Command& cmd) {
  push_styled(out, Style::Literal, cmd.display_name());
  out += ' ';
  if (needs_options_tag(cmd)) out += "[OPTIONS] ";
  if (auto p = cmd.positional_index(); p && !cmd.args()[*p].is_hidden()) {
    out += cmd.args()[*p].value_suffix();
    out += ' ';
  }
}

void push_context_usage(std::string& out, const Command& cmd, std::span<const UsageId> ids) {
  push_styled(out, Style::Literal, cmd.display_name());
  out += ' ';
  std::vector<std::size_t> in_groups;
  std::vector<std::size_t> groups;
  for (const UsageId& id : ids) {
    if (!id.is_group || std::find(groups.begin(), groups.end(), id.index) != groups.end()) continue;
    groups.push_back(id.index);
    for (const std::string& member : cmd.groups()[id.index].members) in_groups.push_back(*cmd.find_id(member));
  }
  auto grouped = [&](std::size_t index) { return std::find(in_groups.begin(), in_groups.end(), index) != in_groups.end(); };

  std::vector<std::size_t> written;
  for (const UsageId& id : ids) {
    if (id.is_group || grouped(id.index) || cmd.args()[id.index].is_positional()) continue;
    if (std::find(written.begin(), written.end(), id.index) != written.end()) continue;
    written.push_back(id.index);
    push_styled_display(out, cmd.args()[id.index]);
    out += ' ';
  }
  for (std::size_t g : groups) {
    std::string members;
    for (const std::string& member : cmd.groups()[g].members) {
      const Arg& arg = cmd.args()[*cmd.find_id(member)];
      if (!members.empty()) members += '|';
      if (arg.is_positional()) {
        for (std::size_t i = 0; i < arg.value_names().size(); ++i) members += (i ? " " : "") + arg.value_names()[i];
      } else {
        members += arg.display();
      }
    }
    out += "<" + members + "> ";
  }
  if (auto p = cmd.positional_index(); p && !cmd.args()[*p].is_hidden() && !grouped(*p)) {
    out += cmd.args()[*p].value_suffix();
    out += ' ';
  }
}

// "[possible values: a, b]" for an argument with possible values.
std::string possible_values_note(const Arg& arg) {
  const std::vector<PossibleValue>& values = arg.value_parser().possible_values;
  if (!arg.takes_values() || values.empty()) return "";
  std::string out = "[possible values: ";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    out += values[i].name;
  }
  return out + "]";
}

const std::string& entry_help(const Arg& arg, bool long_help) {
  static const std::string none;
  const std::optional<std::string>& first = long_help ? arg.long_help() : arg.help();
  const std::optional<std::string>& second = long_help ? arg.help() : arg.long_help();
  return first ? *first : second ? *second : none;
}

std::size_t name_width(const Arg& arg) { return display_width(arg.display()) + (arg.is_positional() ? 0 : 4); }

void push_section(std::string& out, const std::vector<const Arg*>& args, bool long_help, std::size_t width) {
  std::size_t longest = 2;
  for (const Arg* arg : args) longest = std::max(longest, name_width(*arg));

  bool next_line = long_help;
  for (const Arg* arg : args) {
    if (next_line) break;
    std::size_t help_width = display_width(entry_help(*arg, false)) + display_width(possible_values_note(*arg));
    next_line = forces_next_line(longest + 4, width, help_width);
  }

  for (std::size_t i = 0; i < args.size(); ++i) {
    const Arg& arg = *args[i];
    if (i > 0) out += long_help && next_line ? "\n\n" : "\n";
    out += "  ";
    if (arg.short_name()) {
      push_styled(out, Style::Literal, std::string("-") + *arg.short_name());
    } else if (arg.long_name()) {
      out += "    ";
    }
    if (arg.long_name()) {
      if (arg.short_name()) out += ", ";
      push_styled(out, Style::Literal, "--" + *arg.long_name());
    }
    out += arg.value_suffix();

    std::size_t column;
    if (next_line) {
      out += '\n';
      out.append(kNextLineIndent, ' ');
      column = kNextLineIndent;
    } else {
      // A short-only option leaves the ", --long" room blank as well.
      std::size_t room = arg.is_positional() || arg.long_name() ? 2 : 6;
      out.append(longest + room - name_width(arg), ' ');
      column = longest + 4;
    }

    std::string text = entry_help(arg, long_help);
    std::string note = possible_values_note(arg);
    if (!note.empty()) {
      if (!text.empty()) text += long_help ? "\n\n" : " ";
      text += note;
    }
    std::size_t available = width > column ? width - column : 0;
    out += indent_lines(wrap_text(text, available), column);
  }
}

}  // namespace

bool forces_next_line(std::size_t taken, std::size_t width, std::size_t help_width) {
  return width >= taken && static_cast<float>(taken) / static_cast<float>(width) > 0.40f && help_width > width - taken;
}

std::string render_usage(const Command& cmd, UsageForm form, std::span<const UsageId> ids) {
  if (form == UsageForm::None) return "";
  std::string out;
  push_styled(out, Style::Usage, "Usage:");
  out += ' ';
  if (form == UsageForm::Plain || ids.empty()) {
    push_help_usage(out, cmd);
  } else {
    push_context_usage(out, cmd, ids);
  }
  trim_end(out);
  return out;
}

std::string render_help(const Command& cmd, bool long_help, std::size_t width) {
  if (!cmd.is_built()) panic("help of a command that was not built");
  // Without any long help text, --help has nothing more to show than -h.
  long_help = long_help && cmd.long_help_exists();
  std::string out;
  if (cmd.before_help()) {
    out += wrap_text(*cmd.before_help(), width);
    out += "\n\n";
  }
  out += '\n';
  out += render_usage(cmd, UsageForm::Plain, {});
  out += "\n\n";

  std::vector<const Arg*> positionals;
  std::vector<const Arg*> options;
  for (const Arg& arg : cmd.args()) {
    if (arg.is_hidden()) continue;
    (arg.is_positional() ? positionals : options).push_back(&arg);
  }
  bool first = true;
  for (auto [heading, args] : {std::pair{"Arguments:", &positionals}, std::pair{"Options:", &options}}) {
    if (args->empty()) continue;
    if (!first) out += "\n\n";
    first = false;
    push_styled(out, Style::Header, heading);
    out += '\n';
    push_section(out, *args, long_help, width);
  }

  if (cmd.after_help()) {
    out += "\n\n";
    out += wrap_text(*cmd.after_help(), width);
  }

  // An empty first line (no before-help text) is dropped.
  if (std::size_t lf = out.find('\n'); lf != std::string::npos) {
    if (std::all_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lf), is_white)) out.erase(0, lf + 1);
  }
  trim_end(out);
  out += '\n';
  return out;
}

std::string render_error(const Command& cmd, const ParseError& error) {
  std::string out;
  push_styled(out, Style::Error, "error:");
  out += ' ';
  switch (error.kind) {
    case ErrorKind::UnknownArgument:
      out += "unexpected argument '";
      push_styled(out, Style::Invalid, error.argument);
      out += "' found";
      break;
    case ErrorKind::ArgumentRepeated:
      out += "the argument '";
      push_styled(out, Style::Invalid, error.argument);
      out += "' cannot be used multiple times";
      break;
    case ErrorKind::WrongNumberOfValues:
      push_styled(out, Style::Valid, std::to_string(error.expected_values));
      out += " values required for '";
      push_styled(out, Style::Literal, error.argument);
      out += "' but ";
      push_styled(out, Style::Invalid, std::to_string(error.actual_values));
      out += error.actual_values > 1 ? " were provided" : " was provided";
      break;
    case ErrorKind::InvalidValue:
      if (error.value.empty()) {
        out += "a value is required for '";
        push_styled(out, Style::Invalid, error.argument);
        out += "' but none was supplied";
      } else {
        out += "invalid value '";
        push_styled(out, Style::Invalid, error.value);
        out += "' for '";
        push_styled(out, Style::Literal, error.argument);
        out += "'";
      }
      if (!error.possible_values.empty()) {
        out += "\n  [possible values: ";
        for (std::size_t i = 0; i < error.possible_values.size(); ++i) {
          if (i > 0) out += ", ";
          push_styled(out, Style::Valid, error.possible_values[i]);
        }
        out += "]";
      }
      break;
    case ErrorKind::UnexpectedValue:
      out += "unexpected value '";
      push_styled(out, Style::Invalid, error.value);
      out += "' for '";
      push_styled(out, Style::Literal, error.argument);
      out += "' found; no more were expected";
      break;
    case ErrorKind::InvalidUtf8: out += "invalid UTF-8 was detected in one or more arguments"; break;
  }

  bool suggested = false;
  if (error.suggestion) {
    out += "\n\n  ";
    push_styled(out, Style::Valid, "tip:");
    out += error.kind == ErrorKind::UnknownArgument ? " a similar argument exists: '" : " a similar value exists: '";
    push_styled(out, Style::Valid, *error.suggestion);
    out += "'";
    suggested = true;
  }
  if (error.escape_tip) {
    if (!suggested) out += '\n';
    out += "\n  ";
    push_styled(out, Style::Valid, "tip:");
    out += " to pass '";
    push_styled(out, Style::Invalid, error.argument);
    out += "' as a value, use '";
    push_styled(out, Style::Valid, "-- " + error.argument);
    out += "'";
  }
  if (error.usage != UsageForm::None) {
    out += "\n\n";
    out += render_usage(cmd, error.usage, error.usage_ids);
  }
  out += "\n\nFor more information, try '";
  push_styled(out, Style::Literal, "--help");
  out += "'.\n";
  return out;
}

std::string for_stream(std::string_view styled, bool colour) {
  if (colour) return std::string(styled);
  return strip_styles(styled);
}

}  // namespace kiv::cmdline
