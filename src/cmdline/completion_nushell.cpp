// The nushell script: the command's signature as an `export extern`, with a
// completer command for each enumerated value, in a module of its own.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {

// Nushell double quotes: a quote and a backslash are escaped.
std::string nu_quote(std::string_view t) { return quote_escaping(t, '"'); }


std::string parameter_name(std::string_view name) {
  std::string out;
  for (char c : name) {
    bool word = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : word ? c : '_';
  }
  return out;
}

std::string comment(const std::string& help) { return help.empty() ? "" : "  # " + help; }

}  // namespace

std::string nushell_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  std::string completers;
  // The shape of a value: a directory, a path, or text whose candidates a
  // completer command gives.
  auto shape = [&](const Values& values, const std::string& what) -> std::string {
    switch (values.kind) {
      case ValueKind::Files: return "path";
      case ValueKind::Dirs: return "directory";
      case ValueKind::Choices: {
        std::string name = "nu-complete " + model.program + " " + what;
        std::string list;
        for (const std::string& c : values.choices) list += " " + nu_quote(c);
        completers += completion::fill("  def {} [] {{\n    [{} ]\n  }}\n\n", nu_quote(name), list);
        return "string@" + nu_quote(name);
      }
    }
    return "path";
  };

  std::string params;
  for (const Option& o : model.options) {
    std::string line = "    ";
    if (o.long_name) {
      line += "--" + *o.long_name;
      if (o.short_name) line += completion::fill("(-{})", *o.short_name);
    } else {
      line += completion::fill("-{}", *o.short_name);
    }
    if (o.count != 0) line += ": " + shape(o.values, o.long_name ? *o.long_name : std::string(1, *o.short_name));
    params += line + comment(o.help) + "\n";
  }
  if (model.positional) {
    const auto& p = *model.positional;
    params += completion::fill("    ...{}: {}{}\n", parameter_name(p.name), shape(p.values, parameter_name(p.name)),
                          comment(p.help));
  }
  std::string module = nu_quote(model.program + " completions");
  return completion::fill(
      "# nushell completion for {0}. Load with:\n"
      "#   {0} --completions nushell | save -f {0}-completions.nu\n"
      "#   use {0}-completions.nu *\n"
      "module {1} {{\n"
      "\n"
      "{2}"
      "  export extern {3} [\n"
      "{4}"
      "  ]\n"
      "\n"
      "}}\n"
      "\n"
      "export use {1} *\n",
      model.program, module, completers, nu_quote(model.program), params);
}

}  // namespace kiv::cmdline
