// What the build fixed: the release version and the commit it was built from.
#pragma once

#include <string_view>

namespace kiv {

/// The product version, from the build's project version ("0.1.0").
std::string_view release_version();

/// The commit of the sources that were built: 40 lowercase hexadecimal
/// digits, all zeros for a build outside a git checkout.
std::string_view commit_id();

}  // namespace kiv
