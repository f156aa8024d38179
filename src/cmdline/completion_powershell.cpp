// The PowerShell script: a native argument completer that walks the words
// before the cursor the way the parser does and returns CompletionResults
// for option names (with their help as tool tip), an option's values or
// paths.
#include "cmdline/completion.hpp"
#include "cmdline/completion_model.hpp"

namespace kiv::cmdline {

using namespace completion;

namespace {

// PowerShell single quotes: a quote is written twice.
std::string ps_quote(std::string_view t) { return quote_doubling(t, '\''); }


std::string value_entry(const Values& values, int count) {
  std::string choices;
  for (const std::string& c : values.choices) choices += (choices.empty() ? "" : ", ") + ps_quote(c);
  return completion::fill("@{{ Needs = {}; Kind = {}; Choices = @({}) }}", count, ps_quote(kind_word(values.kind)),
                          choices);
}

// " <DIR>", " <OLD_PATH> <NEW_PATH>": the value names after an option.
std::string value_suffix(const Option& o) {
  std::string out;
  for (const std::string& name : o.values.names) out += " <" + name + ">";
  return out;
}

// A tool tip must not be empty: an option without help shows its name.
std::string tip(const Option& o, const std::string& word) { return o.help.empty() ? word : o.help; }

}  // namespace

std::string powershell_completion(const Command& cmd) {
  Model model = completion::model_of(cmd);
  std::string takes;
  std::string options;
  for (const Option& o : model.options) {
    if (o.long_name && o.count != 0)
      takes += completion::fill("        {} = {}\n", ps_quote("--" + *o.long_name), value_entry(o.values, o.count));
    // Each name with the form the menu shows (value names included) and its help.
    for (const std::string& word : names_of(o)) {
      std::string shown = word + value_suffix(o);
      options += completion::fill("        ,({}, {}, {})\n", ps_quote(word), ps_quote(shown), ps_quote(tip(o, shown)));
    }
  }
  std::string positional = "$null";
  bool trailing = false;
  if (model.positional) {
    positional = value_entry(model.positional->values, 1);
    trailing = model.positional->trailing;
  }

  return completion::fill(
      "# PowerShell completion for {0}. Load with:\n"
      "#   {0} --completions powershell | Out-String | Invoke-Expression\n"
      "\n"
      "Register-ArgumentCompleter -Native -CommandName {1} -ScriptBlock {{\n"
      "    param($wordToComplete, $commandAst, $cursorPosition)\n"
      "\n"
      "    # Options that take values: how many (-1: up to the next option) and what.\n"
      "    $takes = @{{\n"
      "{2}"
      "    }}\n"
      "    $options = @(\n"
      "{3}"
      "    )\n"
      "    $positional = {4}\n"
      "    $positionalTrailing = ${5}\n"
      "\n"
      "    # The candidates of one value; $prefix is what stands before it in the word.\n"
      "    $values = {{\n"
      "        param($entry, $prefix, $value)\n"
      "        if ($entry.Kind -eq 'choices') {{\n"
      "            foreach ($c in $entry.Choices) {{\n"
      "                if ($c.StartsWith($value)) {{\n"
      "                    [System.Management.Automation.CompletionResult]::new($prefix + $c, $c, 'ParameterValue', "
      "$c)\n"
      "                }}\n"
      "            }}\n"
      "            return\n"
      "        }}\n"
      "        $dir = $value.Substring(0, $value.LastIndexOfAny([char[]]@('/', '\\')) + 1)\n"
      "        foreach ($item in @(Get-Item -Path ($value + '*') -Force -ErrorAction SilentlyContinue)) {{\n"
      "            if ($entry.Kind -eq 'dirs' -and -not $item.PSIsContainer) {{ continue }}\n"
      "            $text = $dir + $item.Name\n"
      "            $type = if ($item.PSIsContainer) {{ 'ProviderContainer' }} else {{ 'ProviderItem' }}\n"
      "            [System.Management.Automation.CompletionResult]::new($prefix + $text, $item.Name, $type, $text)\n"
      "        }}\n"
      "    }}\n"
      "\n"
      "    # The words before the one being completed, the command's own left out.\n"
      "    $words = @($commandAst.CommandElements | Select-Object -Skip 1 |\n"
      "        Where-Object {{ $_.Extent.EndOffset -lt $cursorPosition }} | ForEach-Object {{ $_.ToString() }})\n"
      "    $trailing = $false\n"
      "    $pending = 0\n"
      "    $pendingOpt = ''\n"
      "    foreach ($word in $words) {{\n"
      "        if ($trailing) {{ break }}\n"
      "        if ($pending -ne 0) {{\n"
      "            if ($word -notmatch '^-.') {{\n"
      "                if ($pending -gt 0) {{ $pending-- }}\n"
      "                continue\n"
      "            }}\n"
      "            $pending = 0\n"
      "        }}\n"
      "        if ($word -eq '--') {{\n"
      "            $trailing = $true\n"
      "        }} elseif ($word -match '^--.') {{\n"
      "            $name = $word.Split('=', 2)[0]\n"
      "            if ($takes.ContainsKey($name)) {{\n"
      "                $pending = $takes[$name].Needs\n"
      "                $pendingOpt = $name\n"
      "                if ($word.Contains('=') -and $pending -gt 0) {{ $pending-- }}\n"
      "            }}\n"
      "        }} elseif ($word -match '^-.') {{\n"
      "        }} elseif ($positionalTrailing) {{\n"
      "            $trailing = $true\n"
      "        }}\n"
      "    }}\n"
      "\n"
      "    $seed = \"$wordToComplete\"\n"
      "    if ($trailing) {{\n"
      "        if ($null -ne $positional) {{ & $values $positional '' $seed }}\n"
      "    }} elseif ($pending -ne 0 -and $seed -notmatch '^-.') {{\n"
      "        & $values $takes[$pendingOpt] '' $seed\n"
      "    }} elseif ($seed -match '^(--[^=]+)=(.*)$') {{\n"
      "        $name = $Matches[1]\n"
      "        if ($takes.ContainsKey($name)) {{ & $values $takes[$name] ($name + '=') $Matches[2] }}\n"
      "    }} elseif ($seed.StartsWith('-')) {{\n"
      "        foreach ($o in $options) {{\n"
      "            if ($o[0].StartsWith($seed)) {{\n"
      "                [System.Management.Automation.CompletionResult]::new($o[0], $o[1], 'ParameterName', $o[2])\n"
      "            }}\n"
      "        }}\n"
      "    }} elseif ($null -ne $positional) {{\n"
      "        & $values $positional '' $seed\n"
      "    }}\n"
      "}}\n",
      model.program, ps_quote(model.program), takes, options, positional, trailing ? "true" : "false");
}

}  // namespace kiv::cmdline
