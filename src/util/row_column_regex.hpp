// The pattern that finds a row/column suffix in a file name, and its one
// compiled form shared by the whole process.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace kiv {

/// The row/column pattern as written: free-spacing syntax with comments,
/// 21 lines joined by line feeds, 470 bytes. It has three alternatives and 17
/// capture groups; every match has exactly three participating groups, which
/// are, in order, the file name, the row and the column.
extern const std::string_view ROW_COLUMN_REGEX_TEXT;

/// Which characters `\d` stands for once the pattern is in RE2's syntax.
enum class DigitClass {
  Unicode,  // `\p{Nd}`: every Unicode decimal digit
  Ascii,    // `[0-9]`: enough for a text that is all ASCII
};

/// `pattern`, written in free-spacing syntax, turned into RE2's syntax: blanks,
/// line feeds and `#` comments outside character classes are dropped, the
/// `x` flag is removed from inline flag groups (a group left with no flag
/// goes), and `\d` becomes `\p{Nd}` (or `[0-9]` with DigitClass::Ascii).
/// Escapes and class contents are otherwise kept as written. Cannot fail; a
/// malformed pattern comes out malformed and fails to compile.
std::string to_re2_syntax(std::string_view pattern, DigitClass digits = DigitClass::Unicode);

/// Compiles ROW_COLUMN_REGEX_TEXT for Unicode text. The text is constant, so
/// a failure to compile is a broken invariant and panics.
const re2::RE2* init_row_column_regex();

/// Compiles ROW_COLUMN_REGEX_TEXT for text that is all ASCII: `\d` as
/// `[0-9]`, read byte by byte. On such a text it finds exactly the matches
/// and captures of the Unicode form, and it compiles about ten times faster,
/// because RE2 turns every `\p{Nd}` and UTF-8 class into a large automaton.
const re2::RE2* init_ascii_row_column_regex();

/// A process-wide compiled row/column pattern. `get()` compiles it on the
/// first call (safe when several threads arrive together) and returns the
/// same read-only pattern afterwards; RE2 keeps each search's scratch space
/// apart, so concurrent searches are fine.
struct RowColumnRegex {
  const re2::RE2& get() const;
};
struct AsciiRowColumnRegex {
  const re2::RE2& get() const;
};
inline constexpr RowColumnRegex ROW_COLUMN_REGEX{};
inline constexpr AsciiRowColumnRegex ASCII_ROW_COLUMN_REGEX{};

/// The compiled form for `text`: the ASCII one when every byte is below
/// 0x80, else the Unicode one.
const re2::RE2& row_column_regex_for(std::string_view text);

/// The three groups that take part in a match: byte offsets into the text
/// searched, and the numbers of the groups (1 to 17) for the record.
struct RowColumnGroups {
  std::array<int, 3> numbers;
  std::size_t name_begin, name_end;
  std::size_t row_begin, row_end;
  std::size_t column_begin, column_end;
  bool operator==(const RowColumnGroups&) const = default;
};

/// The leftmost match of ROW_COLUMN_REGEX in `text` (valid UTF-8), with the
/// captures of a leftmost-first search, or nothing when it does not match.
/// Linear in the length of `text`.
std::optional<RowColumnGroups> search_row_column(std::string_view text);

/// The groups of the match that spans text[begin, end), as RE2's capture
/// engines report them. Linear, but slow on long spans (about 0.2 us a byte).
RowColumnGroups row_column_groups_by_engine(std::string_view text, std::size_t begin, std::size_t end);

/// The same groups derived from the shape of the pattern in one pass, which
/// is what search_row_column uses for long spans. Nothing when the shape does
/// not account for a match spanning text[begin, end) (it always should).
std::optional<RowColumnGroups> row_column_groups_by_shape(std::string_view text, std::size_t begin, std::size_t end);

/// Whether `cp` is a Unicode decimal digit (general category Nd), the set
/// that `\p{Nd}` matches in RE2.
bool is_decimal_digit(char32_t cp);

}  // namespace kiv
