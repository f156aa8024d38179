// Path texts read component by component, without touching the file system.
// A path is bytes; only '/' separates components (a backslash is an ordinary
// character). Repeated and trailing separators and "." components other than
// a leading one do not count as components.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace kiv {

/// Reads the components of a path from the front: "/" for the root, "." for
/// a leading single dot, then ".." and ordinary names as they come.
class ComponentReader {
 public:
  explicit ComponentReader(std::string_view path) : rest_(path) {}
  /// The next component (a view into the path), or nothing at the end.
  std::optional<std::string_view> next();

 private:
  std::string_view rest_;
  bool at_start_ = true;
};

/// The last component of `path` when it is an ordinary name, as a view into
/// `path`. Nothing when `path` is empty, is the root or a leading "." alone,
/// or ends in "..".
std::optional<std::string_view> file_name(std::string_view path);

/// `path` without its last component and the separators and "." components
/// before it: a prefix of `path`. The parent of a one-component relative path
/// is the empty path, of a one-component absolute path the root. The empty
/// path, the root and a lone "." are their own parents.
std::string_view parent_path(std::string_view path);

/// Whether `a` and `b` have the same components.
bool same_components(std::string_view a, std::string_view b);

/// `text` up to the last occurrence of `name`, followed by `replacement`.
/// Whatever follows that occurrence is dropped. `name` is the file name of
/// `text`; should it not occur, `text` is kept whole before `replacement`.
std::string replace_last_file_name(std::string_view text, std::string_view name, std::string_view replacement);

/// The file name of `probe`, or, when it has none, the error
/// "parsing as path with position {argument}".
[[nodiscard]] Result<std::string_view> require_file_name(std::string_view probe, std::string_view argument);

/// `base` followed by the names of `tail` in reverse order (the walk collects
/// them from the last component up), each after one separator; no separator
/// is added after a base that is empty or already ends in one.
std::string push_missing_components(std::string base, const std::vector<std::string_view>& tail);

}  // namespace kiv
