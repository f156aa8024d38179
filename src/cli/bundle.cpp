#include "cli/bundle.hpp"

#include "base/fs.hpp"
#include "util/path_text.hpp"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kiv {
namespace {

constexpr const char* kContext = "Bundle detection";

}  // namespace

Result<std::string> detect_bundle_from(const std::optional<std::string>& kiv, const std::string& launcher_exe) {
  if (kiv) return with_context(canonicalize(*kiv), kContext);
  // The root, or an empty path, has no parent of its own.
  std::string parent(parent_path(launcher_exe));
  if (parent == launcher_exe || parent.empty())
    return fail(Error("no parent path for cli").add_context(kContext));
  for (const char* candidate : BUNDLE_CANDIDATES) {
    std::string joined = parent;
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += candidate;
    auto canonical = canonicalize(joined);
    if (!canonical) continue;
    if (same_components(*canonical, launcher_exe)) continue;
    return canonical;
  }
  std::string list;
  for (const char* candidate : BUNDLE_CANDIDATES) {
    if (!list.empty()) list += ", ";
    list += candidate;
  }
  return fail(Error("could not find any of: " + list).add_context(kContext));
}

Result<std::string> detect_bundle(const std::optional<std::string>& kiv) {
  if (kiv) return detect_bundle_from(kiv, "");
  auto exe = current_exe();
  if (!exe) return fail(std::move(exe.error()).add_context(kContext));
  return detect_bundle_from(kiv, *exe);
}

}  // namespace kiv
