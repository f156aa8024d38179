// Turning a --diff of two directories into one pair per file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "ipc/messages.hpp"
#include "tempfs/temp.hpp"

namespace kiv {

/// A diff pair: the old side, then the new side.
using DiffPair = ipc::DiffPair;

struct ExpandedDiffs {
  std::vector<DiffPair> pairs;
  /// The directories holding placeholders, in the order of the directory
  /// pairs that made them. Removed when released unless kept.
  std::vector<TempDir> placeholder_dirs;
};

/// Replaces every pair of two directories by one pair per regular file found
/// in either tree (in path order), pairing a file one tree lacks with an empty
/// placeholder in a temporary directory. Other pairs pass through unchanged.
/// Any failure ends the whole expansion and removes every directory made.
[[nodiscard]] Result<ExpandedDiffs> expand_dir_diffs(std::vector<DiffPair> pairs);

/// The relative paths of the regular files below `root`, in path order.
/// Links inside the tree are not followed; the root itself is.
[[nodiscard]] Result<std::vector<std::string>> collect_dir_files(const std::string& root);

/// Creates an empty file at `directory`/`relative` with its missing parent
/// directories and returns its path. No link is followed, `directory`'s own
/// name included: a link where a parent directory should be fails like a
/// file there (EEXIST), one where the file should be with ELOOP. Fails with
/// the OS error alone.
[[nodiscard]] Result<std::string> create_placeholder_file(const std::string& directory, const std::string& relative);

/// Path order: component by component, components as unsigned bytes, a
/// path before every longer path it is a prefix of.
bool path_order_less(std::string_view a, std::string_view b);

}  // namespace kiv
