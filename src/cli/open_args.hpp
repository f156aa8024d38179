// Sorting the open path's arguments: URLs, directories among --diff values,
// anonymous memory files, and the environment sent along.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.hpp"

namespace kiv {

/// The argument prefixes that make an argument a URL, compared exactly.
inline constexpr std::array<std::string_view, 5> URL_PREFIXES = {"kiv://", "http://", "https://", "file://", "ssh://"};

/// Whether `argument` begins with one of URL_PREFIXES (case-sensitive).
bool has_url_prefix(std::string_view argument);

/// Whether any --diff value, as typed, names a directory (links followed).
/// `values` holds the pairs flattened: old, new, old, new...
bool diff_pairs_contain_dir(const std::vector<std::string>& values);

/// When `argument` is "/proc/self/fd/N" and N is a descriptor of kiv's that
/// refers to an anonymous memory file (memfd), that descriptor, now owned
/// by the caller; otherwise nothing.
std::optional<UniqueFd> anonymous_fd_from_path(const std::string& argument);

/// The descriptor number of "/proc/self/fd/N": an optional sign, one or more
/// ASCII digits, nothing else, within a signed 32-bit integer.
std::optional<int> proc_self_fd_number(std::string_view argument);

}  // namespace kiv
