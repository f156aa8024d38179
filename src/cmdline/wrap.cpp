#include "cmdline/wrap.hpp"

#include <vector>

#include "cmdline/styled.hpp"

namespace kiv::cmdline {
namespace {

bool is_ascii_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\v'; }

std::size_t trailing_white_space(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && is_ascii_white_space(s[s.size() - 1 - n])) ++n;
  return n;
}

void trim_end(std::string& s) { s.resize(s.size() - trailing_white_space(s)); }

// The tokens of one line: a run of non-blanks with the blanks after it; a
// leading run of blanks is a token of its own.
std::vector<std::string_view> tokens_of(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  bool in_blanks = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    bool blank = line[i] == ' ';
    if (in_blanks && !blank) {
      tokens.push_back(line.substr(start, i - start));
      start = i;
    }
    in_blanks = blank;
  }
  if (start < line.size()) tokens.push_back(line.substr(start));
  return tokens;
}

}  // namespace

std::string wrap_text(std::string_view text, std::size_t width) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  while (!text.empty()) {
    std::size_t lf = text.find('\n');
    std::size_t length = lf == std::string_view::npos ? text.size() : lf + 1;
    std::string_view line = text.substr(0, length);
    text.remove_prefix(length);

    std::vector<std::string_view> tokens = tokens_of(line);
    std::string_view indent;
    if (!tokens.empty() && trailing_white_space(tokens.front()) == tokens.front().size()) indent = tokens.front();

    std::size_t current = 0;
    bool word_seen = false;
    std::size_t previous_start = out.size();
    for (std::string_view token : tokens) {
      std::size_t tail = trailing_white_space(token);
      std::size_t core_width = display_width(token.substr(0, token.size() - tail));
      if (word_seen && current + core_width > width) {
        // Only the token before the break loses its trailing whitespace.
        std::size_t keep = out.size() - trailing_white_space(std::string_view(out).substr(previous_start));
        out.resize(keep);
        out += '\n';
        out += indent;
        current = indent.size();
      }
      previous_start = out.size();
      out += token;
      current += core_width + tail;
      if (core_width > 0) word_seen = true;
    }
  }
  trim_end(out);
  return out;
}

std::string indent_lines(std::string_view text, std::size_t indent) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

}  // namespace kiv::cmdline
