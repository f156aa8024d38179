#include "util/path_with_position.hpp"

#include <limits>
#include <vector>

#include "base/fs.hpp"
#include "base/text.hpp"
#include "util/path_text.hpp"
#include "util/row_column_regex.hpp"

namespace kiv {
namespace {

// Optional '+', then ASCII digits only, at most 4294967295; leading zeros are
// fine. Anything else (empty, a sign alone, '-', digits of another script,
// an overflow) is no number.
std::optional<std::uint32_t> parse_number(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  auto value = parse_ascii_decimal(text, std::numeric_limits<std::uint32_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

// The pattern reads Unicode text, and RE2 would match no character at all at
// a byte that is not UTF-8, which would split the name there. Each such byte
// becomes a placeholder that plays no part in any suffix form, so the name
// reads as if it held U+FFFD there and every offset stays the same.
std::string with_placeholders(std::string_view name) {
  std::string out(name);
  size_t i = 0;
  while (i < out.size()) {
    Utf8Step step = decode_utf8_step(std::string_view(out).substr(i));
    if (step.valid()) {
      i += step.length;
    } else {
      out[i++] = '?';
    }
  }
  return out;
}

struct SuffixMatch {
  size_t stem_end;  // in the name
  std::string_view row;
  std::string_view column;
};

// The leftmost match of the row/column pattern in `name`, reduced to what
// its three groups (file name, row, column) say.
std::optional<SuffixMatch> search_name(std::string_view name) {
  std::string placeholders;
  std::string_view text = name;
  if (!is_valid_utf8(name)) {
    placeholders = with_placeholders(name);
    text = placeholders;
  }
  auto groups = search_row_column(text);
  if (!groups) return std::nullopt;
  return SuffixMatch{groups->name_end, name.substr(groups->row_begin, groups->row_end - groups->row_begin),
                     name.substr(groups->column_begin, groups->column_end - groups->column_begin)};
}

// The fallback when the pattern finds nothing: the last one or two colons of
// the untrimmed text's file name give the row and maybe the column.
PathWithPosition split_at_colons(std::string_view text) {
  PathWithPosition unchanged{std::string(text), std::nullopt, std::nullopt};
  auto name = file_name(text);
  if (!name) return unchanged;
  size_t last = name->rfind(':');
  if (last == std::string_view::npos) return unchanged;
  size_t second = last == 0 ? std::string_view::npos : name->rfind(':', last - 1);
  std::string_view rest, row_text;
  std::optional<std::string_view> column_text;
  if (second == std::string_view::npos) {
    rest = name->substr(0, last);
    row_text = name->substr(last + 1);
  } else {
    rest = name->substr(0, second);
    row_text = name->substr(second + 1, last - second - 1);
    column_text = name->substr(last + 1);
  }
  auto row = parse_number(row_text);
  if (!row) return unchanged;
  auto column = column_text ? parse_number(*column_text) : std::nullopt;
  return {replace_last_file_name(text, *name, rest), row, column};
}

// canonicalize for a view; a text holding a NUL names nothing (the C call
// would read only up to it).
std::optional<std::string> try_canonicalize(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  auto canonical = canonicalize(std::string(path));
  if (!canonical) return std::nullopt;
  return std::move(*canonical);
}

// `path` made absolute through its nearest existing ancestor: the deepest
// level of the walk up from `path` that canonicalises, unless the walk first
// meets the working directory as read (which stands even where it cannot be
// canonicalised, say below an ancestor that is not searchable) or runs out
// of names.
//
// The levels are found by text alone, then searched by halves: a level that
// canonicalises proves every level above it does too, since canonicalising
// it resolved each of their components on the way. So an argument of many
// missing components costs a few canonicalisations, not one per level.
Result<std::string> resolve_path(const std::string& path, std::string_view argument) {
  KIV_TRY_ASSIGN(std::string cwd, with_context(current_dir(), "retrieving current directory"));
  std::vector<std::string_view> levels;  // path, its parent, ..., deepest first
  std::vector<std::string_view> names;   // names[i]: the last name of levels[i]
  std::optional<Error> no_name;          // why the walk cannot go above the last level
  for (std::string_view probe = path;; probe = parent_path(probe)) {
    levels.push_back(probe);
    if (probe.empty() || same_components(probe, cwd)) break;
    auto name = require_file_name(probe, argument);
    if (!name) {
      no_name = std::move(name).error();
      break;
    }
    names.push_back(*name);
  }

  // The first level that canonicalises, by halves over [low, high). An empty
  // last level never does (and says nothing of the levels below it).
  size_t searched = levels.back().empty() ? levels.size() - 1 : levels.size();
  size_t low = 0, high = searched;
  std::optional<std::string> canonical_found;
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (auto canonical = try_canonicalize(levels[mid])) {
      high = mid;
      canonical_found = std::move(canonical);
    } else {
      low = mid + 1;
    }
  }
  size_t found = low;
  if (found < searched) {
    // canonical_found holds the canonical form of the last success, which is
    // levels[found].
    names.resize(found);
    return push_missing_components(std::move(*canonical_found), names);
  }
  if (no_name) return std::unexpected(std::move(*no_name));
  names.resize(levels.size() - 1);
  return push_missing_components(std::move(cwd), names);
}

}  // namespace

PathWithPosition PathWithPosition::parse_str(std::string_view text) {
  std::string_view trimmed = trim_unicode_white_space(text);
  auto name = file_name(trimmed);
  if (!name) return {std::string(text), std::nullopt, std::nullopt};
  if (auto match = search_name(*name)) {
    // Text of the name before the match (when no form matches at its start)
    // stays in the path.
    return {replace_last_file_name(trimmed, *name, name->substr(0, match->stem_end)), parse_number(match->row),
            parse_number(match->column)};
  }
  return split_at_colons(text);
}

std::string PathWithPosition::to_string(const PathFormatter& format) const {
  std::string out = format(path);
  if (row) {
    out += ':';
    out += std::to_string(*row);
    if (column) {
      out += ':';
      out += std::to_string(*column);
    }
  }
  return out;
}

Result<PathWithPosition> PathWithPosition::map_path(
    const std::function<Result<std::string>(const std::string&)>& f) const {
  KIV_TRY_ASSIGN(std::string mapped, f(path));
  return PathWithPosition{std::move(mapped), row, column};
}

Result<std::string> parse_path_with_position(std::string_view argument) {
  // Whatever keeps the argument from being an existing path as typed only
  // sends it on to the suffix split; the reason is not worth reporting.
  if (auto canonical = try_canonicalize(argument)) return path_to_string_lossy(*canonical);
  PathWithPosition value = PathWithPosition::parse_str(argument);
  KIV_TRY_ASSIGN(value, value.map_path([&](const std::string& path) { return resolve_path(path, argument); }));
  return value.to_string(path_to_string_lossy);
}

std::string path_to_string_lossy(std::string_view path) { return utf8_lossy(path); }

}  // namespace kiv
