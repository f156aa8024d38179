// The elvish script: an arg-completer that walks the earlier words the way
// the parser does and returns the candidates of the current word's place:
// option names with their help, an option's values, or paths.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {

// Elvish single quotes: a quote is written twice.
std::string elv_quote(std::string_view t) { return quote_doubling(t, '\''); }


std::string value_entry(const Values& values, int count) {
  std::string choices;
  for (const std::string& c : values.choices) choices += (choices.empty() ? "" : " ") + elv_quote(c);
  return completion::fill("[&count=(num {}) &kind={} &choices=[{}]]", count, kind_word(values.kind), choices);
}

}  // namespace

std::string elvish_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  std::string takes;
  std::string options;
  for (const Option& o : model.options) {
    if (o.long_name && o.count != 0)
      takes += completion::fill("    &{}={}\n", elv_quote("--" + *o.long_name), value_entry(o.values, o.count));
    for (const std::string& word : names_of(o))
      options += completion::fill("    [{} {}]\n", elv_quote(word), elv_quote(o.help));
  }
  takes = takes.empty() ? "[&]" : "[\n" + takes + "  ]";
  std::string positional = "$nil";
  bool trailing = false;
  if (model.positional) {
    positional = value_entry(model.positional->values, 1);
    trailing = model.positional->trailing;
  }

  return completion::fill(
      "# elvish completion for {0}. Load with: eval ({1} --completions elvish | slurp)\n"
      "use re\n"
      "use str\n"
      "use path\n"
      "\n"
      "set edit:completion:arg-completer[{1}] = {{|@words|\n"
      "  # Options that take values: how many (-1: up to the next option) and what.\n"
      "  var takes = {2}\n"
      "  var options = [\n"
      "{3}"
      "  ]\n"
      "  var positional = {4}\n"
      "  var positional-trailing = ${5}\n"
      "\n"
      "  # The candidates of one value; `prefix` is what stands before it in the word.\n"
      "  var values = {{|entry prefix value|\n"
      "    if (eq $entry[kind] choices) {{\n"
      "      for c $entry[choices] {{ put $prefix$c }}\n"
      "    }} else {{\n"
      "      var dirs = (eq $entry[kind] dirs)\n"
      "      edit:complete-filename $value | each {{|c|\n"
      "        if (or (not $dirs) (path:is-dir &follow-symlink=$true $c[stem])) {{\n"
      "          if (eq $prefix '') {{ put $c }} else {{\n"
      "            edit:complex-candidate $prefix$c[stem] &code-suffix=$c[code-suffix]\n"
      "          }}\n"
      "        }}\n"
      "      }}\n"
      "    }}\n"
      "  }}\n"
      "\n"
      "  var seed = $words[-1]\n"
      "  var trailing = $false\n"
      "  var pending = (num 0)\n"
      "  var pending-opt = ''\n"
      "  for word $words[1..-1] {{\n"
      "    if $trailing {{ break }}\n"
      "    if (!= $pending 0) {{\n"
      "      if (not (re:match '^-.' $word)) {{\n"
      "        if (> $pending 0) {{ set pending = (- $pending 1) }}\n"
      "        continue\n"
      "      }}\n"
      "      set pending = (num 0)\n"
      "    }}\n"
      "    if (eq $word --) {{\n"
      "      set trailing = $true\n"
      "    }} elif (re:match '^--.' $word) {{\n"
      "      var name = (str:split &max=2 = $word | take 1)\n"
      "      if (has-key $takes $name) {{\n"
      "        set pending = $takes[$name][count]\n"
      "        set pending-opt = $name\n"
      "        if (and (str:contains $word =) (> $pending 0)) {{ set pending = (- $pending 1) }}\n"
      "      }}\n"
      "    }} elif (re:match '^-.' $word) {{\n"
      "    }} elif $positional-trailing {{\n"
      "      set trailing = $true\n"
      "    }}\n"
      "  }}\n"
      "\n"
      "  if $trailing {{\n"
      "    if (not-eq $positional $nil) {{ $values $positional '' $seed }}\n"
      "  }} elif (and (!= $pending 0) (not (re:match '^-.' $seed))) {{\n"
      "    $values $takes[$pending-opt] '' $seed\n"
      "  }} elif (re:match '^--[^=]+=' $seed) {{\n"
      "    var name value = (str:split &max=2 = $seed)\n"
      "    if (has-key $takes $name) {{ $values $takes[$name] $name'=' $value }}\n"
      "  }} elif (str:has-prefix $seed -) {{\n"
      "    for o $options {{\n"
      "      edit:complex-candidate $o[0] &display=$o[0]' ('$o[1]')'\n"
      "    }}\n"
      "  }} elif (not-eq $positional $nil) {{\n"
      "    $values $positional '' $seed\n"
      "  }}\n"
      "}}\n",
      model.program, elv_quote(model.program), takes, options, positional, trailing ? "true" : "false");
}

}  // namespace kiv::cmdline
