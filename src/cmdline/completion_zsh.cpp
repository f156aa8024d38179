// The zsh script: one _arguments call whose option specs come from the definition.
// The file works both autoloaded from $fpath (its #compdef line) and sourced.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {


// Escapes `chars` (and the backslash) with a backslash.
std::string escaped(std::string_view text, std::string_view chars) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || chars.find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string action(const Values& values) {
  switch (values.kind) {
    case ValueKind::Files: return "_files";
    case ValueKind::Dirs: return "_files -/";
    case ValueKind::Choices: {
      std::string out = "(";
      for (std::size_t i = 0; i < values.choices.size(); ++i)
        out += (i ? " " : "") + escaped(values.choices[i], " ()[]:'\"`$;&|<>*?{}~#!");
      return out + ")";
    }
  }
  return "_files";
}

// ":NAME:action" once per value; the last form repeats up to the next option.
std::string value_specs(const Option& o) {
  std::string out;
  auto name = [&](std::size_t i) {
    const std::vector<std::string>& names = o.values.names;
    return escaped(names.empty() ? std::string("VALUE") : names[std::min(i, names.size() - 1)], ":");
  };
  if (o.count == completion::kUntilNextOption) return ":*-*:" + name(0) + ":" + action(o.values);
  for (int i = 0; i < o.count; ++i) out += ":" + name(static_cast<std::size_t>(i)) + ":" + action(o.values);
  return out;
}

std::string option_spec(const Option& o) {
  std::string help = "[" + escaped(o.help, "[]:") + "]";
  std::string rest = value_specs(o);
  std::string repeat = o.repeatable ? "*" : "";
  std::string eq = o.count != 0 ? "=" : "";
  if (o.long_name && o.short_name) {
    std::string l = "--" + *o.long_name;
    std::string s = std::string("-") + *o.short_name;
    // The two names of one option exclude each other unless it repeats.
    std::string exclusion = o.repeatable ? "" : completion::sh_quote("(" + s + " " + l + ")");
    return completion::fill("{}{}{{{},{}}}{}", exclusion, repeat, s, l + eq, completion::sh_quote(help + rest));
  }
  std::string name = o.long_name ? "--" + *o.long_name + eq : std::string("-") + *o.short_name;
  return completion::sh_quote(repeat + name + help + rest);
}

}  // namespace

std::string zsh_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  const std::string fn = "_" + model.ident;
  std::string argument_specs;
  for (const Option& o : model.options) argument_specs += "    " + option_spec(o) + "\n";
  std::string flags = "-s -S";
  if (model.positional) {
    const auto& p = *model.positional;
    argument_specs += "    " + completion::sh_quote("*:" + escaped(p.name, ":") + ":" + action(p.values)) + "\n";
    // After the first path every word is a path: no options are offered.
    if (p.trailing) flags += " -A '-*'";
  }
  return completion::fill(
      "#compdef {0}\n"
      "# zsh completion for {0}. Install as {1} in a directory of $fpath, or load\n"
      "# with: source <({2} --completions zsh)\n"
      "\n"
      "{3}() {{\n"
      "  local -a specs\n"
      "  specs=(\n"
      "{4}"
      "  )\n"
      "  _arguments {5} : $specs\n"
      "}}\n"
      "\n"
      "if [[ $zsh_eval_context[-1] == loadautofunc ]]; then\n"
      "  {3} \"$@\"\n"
      "else\n"
      "  compdef {3} {2}\n"
      "fi\n",
      model.program, "_" + model.program, completion::sh_quote(model.program), fn, argument_specs, flags);
}

}  // namespace kiv::cmdline
