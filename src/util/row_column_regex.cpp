#include "util/row_column_regex.hpp"

#include <re2/re2.h>

#include <algorithm>
#include <utility>

#include "base/panic.hpp"
#include "base/text.hpp"

namespace kiv {

// Blanks and line breaks are part of the text: they are dropped only when the
// pattern is turned into RE2's syntax.
const std::string_view ROW_COLUMN_REGEX_TEXT =
    "(?xs)\n"
    "    ([^\\(]+)\\:(?:\n"
    "        \\((\\d+)[,:](\\d+)\\) # filename:(row,column), filename:(row:column)\n"
    "        |\n"
    "        \\((\\d+)\\)()     # filename:(row)\n"
    "    )\n"
    "    |\n"
    "    ([^\\(]+)(?:\n"
    "        \\((\\d+)[,:](\\d+)\\) # filename(row,column), filename(row:column)\n"
    "        |\n"
    "        \\((\\d+)\\)()     # filename(row)\n"
    "    )\n"
    "    \\:*$\n"
    "    |\n"
    "    (.+?)(?:\n"
    "        \\:+(\\d+)\\:(\\d+)\\:*$  # filename:row:column\n"
    "        |\n"
    "        \\:+(\\d+)\\:*()$       # filename:row\n"
    "        |\n"
    "        \\:+()()$\n"
    "    )";

namespace {

bool is_free_spacing_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool is_flag_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'; }

}  // namespace

std::string to_re2_syntax(std::string_view pattern, DigitClass digits) {
  std::string out;
  out.reserve(pattern.size());
  bool in_class = false;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      // Escapes are kept whole (an escaped blank or '#' is a literal), except
      // the digit class, which RE2 reads as ASCII only.
      if (pattern[i + 1] == 'd')
        out += digits == DigitClass::Unicode ? "\\p{Nd}" : "[0-9]";
      else
        out.append(pattern.substr(i, 2));
      i += 2;
      continue;
    }
    if (in_class) {
      out += c;
      ++i;
      if (c == ']') in_class = false;
      continue;
    }
    if (c == '[') {
      in_class = true;
      out += c;
      ++i;
      // A ']' first in the class (after an optional '^') is a literal.
      if (i < pattern.size() && pattern[i] == '^') out += pattern[i++];
      if (i < pattern.size() && pattern[i] == ']') out += pattern[i++];
      continue;
    }
    if (is_free_spacing_blank(c)) {
      ++i;
      continue;
    }
    if (c == '#') {
      size_t eol = pattern.find('\n', i);
      i = eol == std::string_view::npos ? pattern.size() : eol + 1;
      continue;
    }
    if (c == '(' && pattern.substr(i, 2) == "(?") {
      // An inline flag group "(?flags)" or "(?flags:": RE2 has no x flag.
      size_t j = i + 2;
      while (j < pattern.size() && is_flag_letter(pattern[j])) ++j;
      if (j < pattern.size() && (pattern[j] == ')' || pattern[j] == ':')) {
        std::string flags;
        for (char f : pattern.substr(i + 2, j - i - 2))
          if (f != 'x') flags += f;
        if (!flags.empty() && flags.back() == '-') flags.pop_back();
        if (flags.empty() && pattern[j] == ')') {
          i = j + 1;
          continue;
        }
        out += "(?" + flags + pattern[j];
        i = j + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

namespace {

const re2::RE2* compile_row_column_regex(DigitClass digits, RE2::Options::Encoding encoding) {
  RE2::Options options;  // leftmost-first, case-sensitive
  options.set_encoding(encoding);
  options.set_log_errors(false);
  auto* regex = new RE2(to_re2_syntax(ROW_COLUMN_REGEX_TEXT, digits), options);
  if (!regex->ok()) panic("the row/column pattern does not compile: " + regex->error());
  if (regex->NumberOfCapturingGroups() != 17) panic("the row/column pattern must have 17 groups");
  return regex;
}

}  // namespace

const re2::RE2* init_row_column_regex() {
  return compile_row_column_regex(DigitClass::Unicode, RE2::Options::EncodingUTF8);
}

const re2::RE2* init_ascii_row_column_regex() {
  // Latin-1 reads one byte as one character: on ASCII text that is the same
  // reading as UTF-8's, without the multi-byte automata.
  return compile_row_column_regex(DigitClass::Ascii, RE2::Options::EncodingLatin1);
}

// Never freed: searches may run until the process ends.
const re2::RE2& RowColumnRegex::get() const {
  static const re2::RE2* const regex = init_row_column_regex();
  return *regex;
}

const re2::RE2& AsciiRowColumnRegex::get() const {
  static const re2::RE2* const regex = init_ascii_row_column_regex();
  return *regex;
}

const re2::RE2& row_column_regex_for(std::string_view text) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? ASCII_ROW_COLUMN_REGEX.get() : ROW_COLUMN_REGEX.get();
}

namespace {

// Unicode general category Nd, as RE2's tables have it (Unicode 15).
constexpr std::pair<char32_t, char32_t> kDecimalDigits[] = {
    {0x30, 0x39},       {0x660, 0x669},     {0x6F0, 0x6F9},     {0x7C0, 0x7C9},     {0x966, 0x96F},
    {0x9E6, 0x9EF},     {0xA66, 0xA6F},     {0xAE6, 0xAEF},     {0xB66, 0xB6F},     {0xBE6, 0xBEF},
    {0xC66, 0xC6F},     {0xCE6, 0xCEF},     {0xD66, 0xD6F},     {0xDE6, 0xDEF},     {0xE50, 0xE59},
    {0xED0, 0xED9},     {0xF20, 0xF29},     {0x1040, 0x1049},   {0x1090, 0x1099},   {0x17E0, 0x17E9},
    {0x1810, 0x1819},   {0x1946, 0x194F},   {0x19D0, 0x19D9},   {0x1A80, 0x1A89},   {0x1A90, 0x1A99},
    {0x1B50, 0x1B59},   {0x1BB0, 0x1BB9},   {0x1C40, 0x1C49},   {0x1C50, 0x1C59},   {0xA620, 0xA629},
    {0xA8D0, 0xA8D9},   {0xA900, 0xA909},   {0xA9D0, 0xA9D9},   {0xA9F0, 0xA9F9},   {0xAA50, 0xAA59},
    {0xABF0, 0xABF9},   {0xFF10, 0xFF19},   {0x104A0, 0x104A9}, {0x10D30, 0x10D39}, {0x11066, 0x1106F},
    {0x110F0, 0x110F9}, {0x11136, 0x1113F}, {0x111D0, 0x111D9}, {0x112F0, 0x112F9}, {0x11450, 0x11459},
    {0x114D0, 0x114D9}, {0x11650, 0x11659}, {0x116C0, 0x116C9}, {0x11730, 0x11739}, {0x118E0, 0x118E9},
    {0x11950, 0x11959}, {0x11C50, 0x11C59}, {0x11D50, 0x11D59}, {0x11DA0, 0x11DA9}, {0x11F50, 0x11F59},
    {0x16A60, 0x16A69}, {0x16AC0, 0x16AC9}, {0x16B50, 0x16B59}, {0x1D7CE, 0x1D7FF}, {0x1E140, 0x1E149},
    {0x1E2F0, 0x1E2F9}, {0x1E4F0, 0x1E4F9}, {0x1E950, 0x1E959}, {0x1FBF0, 0x1FBF9},
};

// Spans up to this many bytes go to RE2's capture engines; on longer ones
// those take about 0.2 us a byte, so the groups are read off the shape.
constexpr size_t kEngineSpan = 1024;

re2::StringPiece piece(std::string_view text) { return re2::StringPiece(text.data(), text.size()); }

// The byte length of the decimal digit that begins `rest` (valid UTF-8 that
// does not begin with ASCII), or 0.
size_t non_ascii_digit_length(std::string_view rest) {
  Utf8Step step = decode_utf8_step(rest);
  return step.valid() && is_decimal_digit(step.cp) ? step.length : 0;
}

// The byte length of the decimal digit at text[i] (valid UTF-8), or 0. Small
// enough to inline into the loops over long digit runs.
size_t digit_length(std::string_view text, size_t i) {
  if (i >= text.size()) return 0;
  auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return lead >= '0' && lead <= '9' ? 1 : 0;
  return non_ascii_digit_length(text.substr(i));
}

size_t digits_end(std::string_view text, size_t i) {
  while (size_t length = digit_length(text, i)) i += length;
  return i;
}

size_t colons_end(std::string_view text, size_t i) {
  while (i < text.size() && text[i] == ':') ++i;
  return i;
}

// "(" digits [,:] digits ")" or "(" digits ")" at text[open]: the row, the
// column (empty after the ')' in the second form) and the end.
struct Parenthesised {
  bool pair;
  size_t row_begin, row_end, column_begin, column_end, end;
};

std::optional<Parenthesised> parenthesised_at(std::string_view text, size_t open) {
  size_t row_begin = open + 1;
  size_t row_end = digits_end(text, row_begin);
  if (row_end == row_begin || row_end >= text.size()) return std::nullopt;
  if (text[row_end] == ',' || text[row_end] == ':') {
    size_t column_begin = row_end + 1;
    size_t column_end = digits_end(text, column_begin);
    if (column_end == column_begin || column_end >= text.size() || text[column_end] != ')') return std::nullopt;
    return Parenthesised{true, row_begin, row_end, column_begin, column_end, column_end + 1};
  }
  if (text[row_end] != ')') return std::nullopt;
  return Parenthesised{false, row_begin, row_end, row_end + 1, row_end + 1, row_end + 1};
}

}  // namespace

bool is_decimal_digit(char32_t cp) {
  auto it = std::upper_bound(std::begin(kDecimalDigits), std::end(kDecimalDigits), cp,
                             [](char32_t value, const auto& range) { return value < range.first; });
  return it != std::begin(kDecimalDigits) && cp <= std::prev(it)->second;
}

RowColumnGroups row_column_groups_by_engine(std::string_view text, size_t begin, size_t end) {
  constexpr int kGroups = 18;  // the whole match and the 17 groups
  std::array<re2::StringPiece, kGroups> groups;
  bool matched = row_column_regex_for(text).Match(piece(text), begin, end, RE2::ANCHOR_BOTH, groups.data(), kGroups);
  KIV_ASSERT(matched);
  // A group that took part has a non-null start, even when it is empty.
  RowColumnGroups out{};
  std::array<size_t, 6> bounds{};
  size_t taking = 0;
  for (std::size_t i = 1; i < groups.size() && taking < 3; ++i) {
    if (groups[i].data() == nullptr) continue;
    out.numbers[taking] = static_cast<int>(i);
    bounds[2 * taking] = static_cast<size_t>(groups[i].data() - text.data());
    bounds[2 * taking + 1] = bounds[2 * taking] + groups[i].size();
    ++taking;
  }
  KIV_ASSERT(taking == 3);
  out.name_begin = bounds[0];
  out.name_end = bounds[1];
  out.row_begin = bounds[2];
  out.row_end = bounds[3];
  out.column_begin = bounds[4];
  out.column_end = bounds[5];
  return out;
}

// At one start the alternatives are tried in order, and each of them is
// deterministic there: the file-name group of the first two cannot hold '(',
// so it ends at the first '(' (the first after a ':'); every digit run is
// taken whole, because what follows it in the pattern is never a digit; and
// the lazy file-name group of the third ends at the first run of colons
// whose continuation reaches the end (a later colon of the same run would
// see the same continuation).
std::optional<RowColumnGroups> row_column_groups_by_shape(std::string_view text, size_t begin, size_t end) {
  const size_t size = text.size();
  size_t tail_colons = size;  // from here on, only colons
  while (tail_colons > 0 && text[tail_colons - 1] == ':') --tail_colons;

  size_t open = text.find('(', begin);
  if (open != std::string_view::npos && open >= begin + 2 && text[open - 1] == ':') {
    if (auto p = parenthesised_at(text, open)) {
      if (p->end != end) return std::nullopt;
      return RowColumnGroups{p->pair ? std::array{1, 2, 3} : std::array{1, 4, 5}, begin, open - 1, p->row_begin,
                             p->row_end, p->column_begin, p->column_end};
    }
  }
  if (open != std::string_view::npos && open >= begin + 1) {
    if (auto p = parenthesised_at(text, open); p && p->end >= tail_colons) {
      if (end != size) return std::nullopt;
      return RowColumnGroups{p->pair ? std::array{6, 7, 8} : std::array{6, 9, 10}, begin, open, p->row_begin,
                             p->row_end, p->column_begin, p->column_end};
    }
  }
  if (end != size) return std::nullopt;
  size_t from = begin + 1;
  while (true) {
    size_t run = text.find(':', from);
    if (run == std::string_view::npos) return std::nullopt;
    size_t digits = colons_end(text, run);
    size_t row_end = digits_end(text, digits);
    if (row_end > digits) {
      if (row_end < size && text[row_end] == ':') {
        size_t column_end = digits_end(text, row_end + 1);
        if (column_end > row_end + 1 && column_end >= tail_colons)
          return RowColumnGroups{{11, 12, 13}, begin, run, digits, row_end, row_end + 1, column_end};
      }
      if (row_end >= tail_colons) return RowColumnGroups{{11, 14, 15}, begin, run, digits, row_end, size, size};
    } else if (digits == size) {
      return RowColumnGroups{{11, 16, 17}, begin, run, size, size, size, size};
    }
    from = digits;
  }
}

std::optional<RowColumnGroups> search_row_column(std::string_view text) {
  // Every alternative of the pattern needs a colon or an opening
  // parenthesis; most file names have neither, and then the pattern need
  // not even be compiled.
  if (text.find_first_of(":(") == std::string_view::npos) return std::nullopt;
  re2::StringPiece whole;
  if (!row_column_regex_for(text).Match(piece(text), 0, text.size(), RE2::UNANCHORED, &whole, 1)) return std::nullopt;
  size_t begin = static_cast<size_t>(whole.data() - text.data());
  size_t end = begin + whole.size();
  if (end - begin > kEngineSpan) {
    if (auto shaped = row_column_groups_by_shape(text, begin, end)) return shaped;
  }
  return row_column_groups_by_engine(text, begin, end);
}

}  // namespace kiv
