// The bash script: the earlier words are walked the way the parser walks
// them (an option waiting for its values, "--", the first path switching to
// trailing mode), then the current word gets the candidates of that state.
// Files and directories come from bash-completion's _filedir when it is
// loaded (quoting, "~"), else from compgen.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {


std::string choices_array(const Values& values) {
  std::string out = "(";
  for (std::size_t i = 0; i < values.choices.size(); ++i) out += (i ? " " : "") + sh_quote(values.choices[i]);
  return out + ")";
}

}  // namespace

std::string bash_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  const std::string fn = "_" + model.ident;

  // The options that take values: how many, and what each value is.
  std::string option_cases;
  for (const Option& o : model.options) {
    if (o.count == 0 || !o.long_name) continue;
    option_cases += completion::fill("        {}) count={} kind={} choices={} ;;\n", sh_quote("--" + *o.long_name),
                                     o.count, kind_word(o.values.kind), choices_array(o.values));
  }
  std::string words;
  for (const std::string& w : completion::option_words(model)) words += " " + sh_quote(w);

  std::string positional = "    return 0";
  std::string trailing_line = "        *) ;;";
  if (model.positional) {
    positional = completion::fill("    kind={} choices={}\n    {}_values \"$cur\"",
                                  kind_word(model.positional->values.kind), choices_array(model.positional->values), fn);
    if (model.positional->trailing) trailing_line = "        *) trailing=1 ;;";
  }

  std::string out;
  out += completion::fill("# bash completion for {}\t\t\t\t\t-*- shell-script -*-\n", model.program);
  out += completion::fill("# Load with: source <({} --completions bash)\n\n", sh_quote(model.program));
  out += completion::fill(
      "# Sets count (values per occurrence, -1: up to the next option), kind and\n"
      "# choices for the option $1; count=0 for flags and unknown words.\n"
      "{0}_option() {{\n"
      "    count=0 kind=files choices=()\n"
      "    case $1 in\n"
      "{1}"
      "    esac\n"
      "}}\n\n",
      fn, option_cases);
  out += completion::fill(
      "# Candidates for the value $1 of the given kind into COMPREPLY.\n"
      "{0}_values() {{\n"
      "    local cur=$1 w\n"
      "    case $kind in\n"
      "        choices)\n"
      "            for w in \"${{choices[@]}}\"; do [[ $w == \"$cur\"* ]] && COMPREPLY+=(\"$w\"); done ;;\n"
      "        dirs)\n"
      "            if declare -F _filedir >/dev/null; then _filedir -d; else\n"
      "                compopt -o filenames 2>/dev/null\n"
      "                mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n"
      "            fi ;;\n"
      "        *)\n"
      "            if declare -F _filedir >/dev/null; then _filedir; else\n"
      "                compopt -o filenames 2>/dev/null\n"
      "                mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
      "            fi ;;\n"
      "    esac\n"
      "}}\n\n",
      fn);
  out += completion::fill(
      "{0}() {{\n"
      "    local i n=0 word name value cur count kind trailing=0 pending=0 pending_opt= join=0\n"
      "    local -a words=() choices=()\n"
      "    COMPREPLY=()\n"
      "    # The words up to the cursor, \"--name=value\" joined again where bash\n"
      "    # split it at \"=\".\n"
      "    for ((i = 0; i <= COMP_CWORD; i++)); do\n"
      "        word=${{COMP_WORDS[i]}}\n"
      "        if ((join)); then\n"
      "            words[n-1]+=$word join=0\n"
      "        elif [[ $word == = && $n -gt 1 && ${{words[n-1]}} == --?* && ${{words[n-1]}} != *=* ]]; then\n"
      "            words[n-1]+== join=1\n"
      "        else\n"
      "            words[n++]=$word\n"
      "        fi\n"
      "    done\n"
      "    cur=${{words[n-1]}}\n"
      "\n"
      "    for ((i = 1; i < n - 1; i++)); do\n"
      "        word=${{words[i]}}\n"
      "        ((trailing)) && break\n"
      "        if ((pending != 0)); then\n"
      "            if [[ $word != -?* ]]; then\n"
      "                ((pending > 0 && pending--))\n"
      "                continue\n"
      "            fi\n"
      "            pending=0\n"
      "        fi\n"
      "        case $word in\n"
      "        --) trailing=1 ;;\n"
      "        --?*=*)\n"
      "            {0}_option \"${{word%%=*}}\"\n"
      "            pending=$count pending_opt=${{word%%=*}}\n"
      "            ((pending > 0 && pending--)) ;;\n"
      "        --?*)\n"
      "            {0}_option \"$word\"\n"
      "            pending=$count pending_opt=$word ;;\n"
      "        -?*) ;;\n"
      "{1}\n"
      "        esac\n"
      "    done\n"
      "\n"
      "    if ((!trailing)); then\n"
      "        if ((pending != 0)) && [[ $cur != -?* ]]; then\n"
      "            {0}_option \"$pending_opt\"\n"
      "            {0}_values \"$cur\"\n"
      "            return 0\n"
      "        fi\n"
      "        if [[ $cur == --?*=* ]]; then\n"
      "            name=${{cur%%=*}} value=${{cur#*=}}\n"
      "            {0}_option \"$name\"\n"
      "            ((count == 0)) && return 0\n"
      "            {0}_values \"$value\"\n"
      "            # bash completes only what follows \"=\", unless \"=\" was taken\n"
      "            # out of its word breaks.\n"
      "            if [[ $COMP_WORDBREAKS != *=* ]]; then\n"
      "                COMPREPLY=(\"${{COMPREPLY[@]/#/$name=}}\")\n"
      "            fi\n"
      "            return 0\n"
      "        fi\n"
      "        if [[ $cur == -* ]]; then\n"
      "            for word in{2}; do\n"
      "                [[ $word == \"$cur\"* ]] && COMPREPLY+=(\"$word\")\n"
      "            done\n"
      "            return 0\n"
      "        fi\n"
      "    fi\n"
      "{3}\n"
      "}}\n\n",
      fn, trailing_line, words, positional);
  out += completion::fill("complete -F {} {}\n\n# ex: filetype=sh\n", fn, sh_quote(model.program));
  return out;
}

}  // namespace kiv::cmdline
