#include "cli/bundle.hpp"

#include "base/fs.hpp"
#include "util/path_text.hpp"

namespace kiv {
namespace {

constexpr const char* kContext = "Bundle detection";

}  // namespace

Result<std::string> detect_bundle_from(const std::optional<std::string>& kiv, const std::string& launcher_exe) {
  if (kiv) return with_context(canonicalize(*kiv), kContext);
  // The root, or an empty path, has no parent of its own.
  std::string parent(parent_path(launcher_exe));
  if (parent == launcher_exe || parent.empty())
    return with_context(fail("no parent path for cli"), kContext);
  for (const char* candidate : BUNDLE_CANDIDATES) {
    auto canonical = canonicalize(join_path(parent, candidate));
    if (!canonical) continue;
    if (same_components(*canonical, launcher_exe)) continue;
    return canonical;
  }
  std::string list;
  for (const char* candidate : BUNDLE_CANDIDATES) {
    if (!list.empty()) list += ", ";
    list += candidate;
  }
  return with_context(fail("could not find any of: " + list), kContext);
}

Result<std::string> detect_bundle(const std::optional<std::string>& kiv) {
  if (kiv) return detect_bundle_from(kiv, "");
  KIV_TRY_ASSIGN(std::string exe, with_context(current_exe(), kContext));
  return detect_bundle_from(kiv, exe);
}

}  // namespace kiv
