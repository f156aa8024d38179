#include "cli/bundle.hpp"

#include "base/fs.hpp"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kiv {
namespace {

constexpr const char* kContext = "Bundle detection";

std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.starts_with('/')) parts.push_back("/");
  size_t i = 0;
  while (i < path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(i, slash - i);
    // "." in the middle of a path is not a component of its own.
    if (!part.empty() && !(part == "." && i != 0)) parts.push_back(part);
    i = slash + 1;
  }
  return parts;
}

// The parent directory in the sense of the last component dropped; nothing for
// the root or a lone name without a directory.
std::optional<std::string> parent_of(const std::string& path) {
  auto parts = components(path);
  if (parts.empty() || (parts.size() == 1 && parts[0] == "/")) return std::nullopt;
  parts.pop_back();
  std::string parent;
  for (auto part : parts) {
    if (!parent.empty() && parent.back() != '/') parent += '/';
    parent += part;
  }
  return parent;
}

}  // namespace

bool same_path_components(const std::string& a, const std::string& b) {
  return a == b || components(a) == components(b);
}

Result<std::string> current_exe() {
  std::string target(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size());
    if (n < 0) {
      if (errno == ENOENT) return fail("no /proc/self/exe available. Is /proc mounted?");
      return fail_last_os();
    }
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

Result<std::string> detect_bundle_from(const std::optional<std::string>& kiv, const std::string& launcher_exe) {
  if (kiv) return with_context(canonicalize(*kiv), kContext);
  auto parent = parent_of(launcher_exe);
  if (!parent) return fail(Error("no parent path for cli").add_context(kContext));
  for (const char* candidate : BUNDLE_CANDIDATES) {
    std::string joined = *parent;
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += candidate;
    auto canonical = canonicalize(joined);
    if (!canonical) continue;
    if (same_path_components(*canonical, launcher_exe)) continue;
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
