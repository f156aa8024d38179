// The fish script: `complete -c` lines for every option, conditioned on a
// helper that walks the earlier tokens the way the parser does, so options
// stop after "--" or the first path and further values of an option get
// their own candidates.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {

// Fish single quotes: a quote and a backslash are escaped.
std::string fish_quote(std::string_view t) { return quote_escaping(t, '\''); }


// The candidates of a value: the arguments of `complete` after the name.
std::string value_args(const Values& values) {
  switch (values.kind) {
    case ValueKind::Files: return "-F";
    case ValueKind::Dirs: return "-f -a '(__fish_complete_directories (commandline -ct))'";
    case ValueKind::Choices: {
      std::string list;
      for (const std::string& c : values.choices) list += (list.empty() ? "" : " ") + fish_quote(c);
      return "-f -a " + fish_quote(list);
    }
  }
  return "-F";
}

}  // namespace

std::string fish_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  const std::string state = "__fish_" + model.ident + "_state";
  const std::string prog = fish_quote(model.program);

  std::string counts;
  for (const Option& o : model.options) {
    if (o.count == 0 || !o.long_name) continue;
    counts += completion::fill("            case {}\n                set count {}\n", fish_quote("--" + *o.long_name),
                          o.count);
  }
  std::string positional_case = "                continue";
  if (model.positional && model.positional->trailing)
    positional_case = "                set state trailing\n                break";

  std::string out;
  out += completion::fill("# fish completion for {}. Load with: {} --completions fish | source\n\n", model.program, prog);
  out += completion::fill(
      "# Succeeds when the words before the cursor leave one of the states given:\n"
      "# \"options\" (options and paths), \"trailing\" (after \"--\" or the first path,\n"
      "# only paths) or \"value:--name\" (--name still waits for a value).\n"
      "function {0}\n"
      "    set -l state options\n"
      "    set -l pending 0\n"
      "    set -l pending_opt\n"
      "    for word in (commandline -opc)[2..-1]\n"
      "        if test $pending -ne 0\n"
      "            if not string match -qr -- '^-.' $word\n"
      "                test $pending -gt 0; and set pending (math $pending - 1)\n"
      "                continue\n"
      "            end\n"
      "            set pending 0\n"
      "        end\n"
      "        if test \"$word\" = --\n"
      "            set state trailing\n"
      "            break\n"
      "        else if string match -qr -- '^--.' $word\n"
      "            set -l name (string split -m 1 = -- $word)[1]\n"
      "            set -l count 0\n"
      "            switch $name\n"
      "{1}"
      "            end\n"
      "            set pending $count\n"
      "            set pending_opt $name\n"
      "            if string match -q -- '*=*' $word; and test $count -gt 0\n"
      "                set pending (math $count - 1)\n"
      "            end\n"
      "        else if string match -qr -- '^-.' $word\n"
      "            continue\n"
      "        else\n"
      "{2}\n"
      "        end\n"
      "    end\n"
      "    test $state = options; and test $pending -ne 0; and set state value:$pending_opt\n"
      "    contains -- $state $argv\n"
      "end\n\n",
      state, counts, positional_case);

  out += completion::fill("complete -c {} -f\n", prog);
  for (const Option& o : model.options) {
    std::string line = completion::fill("complete -c {} -n {}", prog, fish_quote(state + " options"));
    if (o.long_name) {
      // While this option waits for its value its own line must still apply.
      line = completion::fill("complete -c {} -n {}", prog, fish_quote(state + " options value:--" + *o.long_name));
    }
    if (o.short_name) line += completion::fill(" -s {}", fish_quote(std::string(1, *o.short_name)));
    if (o.long_name) line += " -l " + fish_quote(*o.long_name);
    if (o.count != 0) line += " -r " + value_args(o.values);
    if (!o.help.empty()) line += " -d " + fish_quote(o.help);
    out += line + "\n";
    // The second and later values of an option come after a value, where
    // fish no longer relates the word to the option.
    if (o.long_name && (o.count > 1 || o.count == completion::kUntilNextOption)) {
      out += completion::fill("complete -c {} -n {} {}\n", prog,
                         fish_quote(state + " value:--" + *o.long_name), value_args(o.values));
    }
  }
  if (model.positional) {
    out += completion::fill("complete -c {} -n {} {}\n", prog, fish_quote(state + " options trailing"),
                       value_args(model.positional->values));
  }
  return out;
}

}  // namespace kiv::cmdline
