// What every completion generator needs from a built Command, in the terms
// a shell script works with, plus the quoting the scripts share.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/command.hpp"

namespace kiv::cmdline::completion {

/// What a shell offers for a value.
enum class ValueKind {
  Files,    // files and directories (also for values nothing is said about)
  Dirs,     // directories only
  Choices,  // the enumerated values
};

/// Marks an option that takes values until the next option word.
inline constexpr int kUntilNextOption = -1;

struct Values {
  ValueKind kind = ValueKind::Files;
  std::vector<std::string> choices;
  std::vector<std::string> names;  // value names, one per value (DIR, OLD_PATH NEW_PATH)
};

/// A named argument.
struct Option {
  std::optional<std::string> long_name;  // without "--"
  std::optional<char> short_name;
  int count = 0;  // values per occurrence: 0 for flags, kUntilNextOption
  bool repeatable = false;
  Values values;
  std::string help;  // one line
};

/// The positional argument.
struct Positional {
  bool trailing = false;
  std::string name;
  Values values;
  std::string help;
};

struct Model {
  std::string program;  // the name the shell completes
  std::string ident;    // the program name usable in function names
  std::vector<Option> options;
  std::optional<Positional> positional;
};

/// The model of `cmd`, which must be built.
Model model_of(const Command& cmd);

/// Every option word: "--long" names first, then "-s" names, in definition order.
std::vector<std::string> option_words(const Model& model);

/// `tmpl` with "{}" replaced by the next argument, "{N}" by argument N and
/// "{{", "}}" by single braces.
std::string fill_strings(std::string_view tmpl, std::initializer_list<std::string_view> args);

inline std::string_view as_text(std::string_view s) { return s; }
inline std::string as_text(char c) { return std::string(1, c); }
inline std::string as_text(int n) { return std::to_string(n); }

template <class... Args>
std::string fill(std::string_view tmpl, const Args&... args) {
  return [&](const auto&... texts) { return fill_strings(tmpl, {std::string_view(texts)...}); }(as_text(args)...);
}

/// "files", "dirs" or "choices": how the scripts' tables name a kind.
const char* kind_word(ValueKind kind);

/// The words that name an option: "--long" and/or "-s".
std::vector<std::string> names_of(const Option& option);

/// `text` between two `quote`s, each `quote` inside written twice (elvish's
/// and PowerShell's single quotes).
std::string quote_doubling(std::string_view text, char quote);

/// `text` between two `quote`s, each `quote` and backslash inside escaped
/// with a backslash (fish's single and nushell's double quotes).
std::string quote_escaping(std::string_view text, char quote);

/// `text` as one POSIX shell word in single quotes.
std::string sh_quote(std::string_view text);

}  // namespace kiv::cmdline::completion
