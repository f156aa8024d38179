// PowerShell is not available on this system, so its script is checked for
// what can be seen without running it: the native completer registration,
// every option with its value names, the six shell names, and a text that
// PowerShell's tokenizer would accept as far as quotes and brackets go.
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace kiv::testing {
namespace {

// Empty when every bracket closes the one it should and every string and
// comment ends; otherwise what went wrong and where.
std::string bracket_fault(const std::string& text) {
  std::string open;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '#') {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (c == '\'') {
      // '' is a quote inside a single-quoted string.
      for (++i;; ++i) {
        if (i >= text.size()) return "unterminated ' string";
        if (text[i] == '\'' && (i + 1 >= text.size() || text[i + 1] != '\'')) break;
        if (text[i] == '\'') ++i;
      }
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) return "unterminated \" string";
        if (text[i] == '`') ++i;
        else if (text[i] == '"') break;
      }
    } else if (c == '(' || c == '{' || c == '[') {
      open += c;
    } else if (c == ')' || c == '}' || c == ']') {
      char want = c == ')' ? '(' : c == '}' ? '{' : '[';
      if (open.empty() || open.back() != want) return std::string("unmatched ") + c + " at " + std::to_string(i);
      open.pop_back();
    }
  }
  return open.empty() ? "" : "unclosed " + open;
}

TEST(PowerShellScript, RegistersANativeCompleterForEveryOption) {
  ScopedTempDir home;
  RunResult r = run_process(kiv_run_options(home.path(), {"--completions", "powershell"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string& script = r.out;
  EXPECT_NE(script.find("Register-ArgumentCompleter -Native -CommandName 'kiv' -ScriptBlock {"), std::string::npos);
  EXPECT_EQ(bracket_fault(script), "");
  for (const char* entry : {"'--wait', '--wait'", "'-w', '-w'", "'--reuse', '--reuse'", "'-r', '-r'",
                            "'--classic', '--classic'", "'--user-data-dir', '--user-data-dir <DIR>'",
                            "'--diff', '--diff <OLD_PATH> <NEW_PATH>'", "'--completions', '--completions <SHELL>'",
                            "'--kiv', '--kiv <KIV>'", "'--dev-server-token', '--dev-server-token <DEV_SERVER_TOKEN>'",
                            "'--askpass', '--askpass <ASKPASS>'", "'--help', '--help'", "'-h', '-h'",
                            "'--version', '--version'", "'-v', '-v'", "'--add', '--add'", "'-a', '-a'",
                            "'--new', '--new'", "'-n', '-n'", "'--existing', '--existing'", "'-e', '-e'",
                            "'--foreground', '--foreground'", "'--system-specs', '--system-specs'",
                            "'--debug-state', '--debug-state'", "'--dev-container', '--dev-container'",
                            "'--uninstall', '--uninstall'"}) {
    EXPECT_NE(script.find(entry), std::string::npos) << entry;
  }
  EXPECT_NE(script.find("'--user-data-dir' = @{ Needs = 1; Kind = 'dirs'"), std::string::npos);
  EXPECT_NE(script.find("'--diff' = @{ Needs = 2; Kind = 'files'"), std::string::npos);
  EXPECT_NE(script.find("Choices = @('bash', 'elvish', 'fish', 'nushell', 'powershell', 'zsh')"), std::string::npos);
  // Help texts with quotes of their own stay inside their strings.
  EXPECT_NE(script.find("'Print help (see more with ''--help'')'"), std::string::npos);
}

TEST(PowerShellScript, BracketCheckFindsFaults) {
  EXPECT_EQ(bracket_fault("{ ( 'a)' \"b}\" ) } # ("), "");
  EXPECT_EQ(bracket_fault("@( 'it''s' )"), "");
  EXPECT_NE(bracket_fault("{ ( }"), "");
  EXPECT_NE(bracket_fault("{ 'open }"), "");
  EXPECT_NE(bracket_fault("@("), "");
}

}  // namespace
}  // namespace kiv::testing
