// Path arguments that may end in a row/column suffix ("main.rs:10:5",
// "main.rs(10,5)", "main.rs:(10)" and their variants), split off and written
// back after the path has been made absolute.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kiv {

/// A path with the row and column a user gave with it, as written (no
/// conversion between counting from 0 and from 1).
struct PathWithPosition {
  /// Bytes; may be relative and may be empty.
  std::string path;
  std::optional<std::uint32_t> row;
  /// Written out only together with a row.
  std::optional<std::uint32_t> column;

  /// Splits a position suffix off `text`. Only the file name (the last
  /// component) is examined, after leading and trailing White_Space is
  /// trimmed; a text that fits no suffix form is the path, untrimmed, with no
  /// position. A row or column that is not an optional '+' and ASCII digits
  /// worth at most 4294967295 is dropped, though its suffix is still removed
  /// when the pattern matched it. Bytes that are not UTF-8 count as ordinary
  /// characters of the name. Never fails and touches no file.
  static PathWithPosition parse_str(std::string_view text);

  using PathFormatter = std::function<std::string(std::string_view)>;

  /// `format(path)`, then ":row" when there is a row and ":column" after it
  /// when there are both. Numbers in plain decimal.
  std::string to_string(const PathFormatter& format) const;

  /// The same position with `f(path)` as its path, or f's error unchanged.
  [[nodiscard]] Result<PathWithPosition> map_path(
      const std::function<Result<std::string>(const std::string&)>& f) const;

  bool operator==(const PathWithPosition&) const = default;
};

/// `argument` as the text the editor is to open: an existing path is its
/// canonical path with no position, even when it looks like it has one (a
/// file named "main.rs:10" is that file). Otherwise the position suffix is
/// split off and the path made absolute through its nearest existing
/// ancestor, which is canonicalised while the missing names after it are
/// kept as written; the position is written back after it. The working
/// directory is read on every call. Invalid UTF-8 in the result becomes
/// U+FFFD.
/// Fails with "retrieving current directory" over the OS error when the
/// working directory cannot be read, and with
/// "parsing as path with position {argument}" when the walk up reaches a
/// path without a file name (one ending in "..") before an existing ancestor.
[[nodiscard]] Result<std::string> parse_path_with_position(std::string_view argument);

/// `path` as UTF-8 text, each maximal ill-formed subpart replaced by U+FFFD.
std::string path_to_string_lossy(std::string_view path);

}  // namespace kiv
