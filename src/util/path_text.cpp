#include "util/path_text.hpp"

namespace kiv {

std::optional<std::string_view> ComponentReader::next() {
  if (at_start_) {
    at_start_ = false;
    if (!rest_.empty() && rest_.front() == '/') {
      rest_.remove_prefix(1);
      return std::string_view("/");
    }
    if (rest_ == "." || rest_.starts_with("./")) {
      rest_.remove_prefix(1);
      return std::string_view(".");
    }
  }
  while (true) {
    while (!rest_.empty() && rest_.front() == '/') rest_.remove_prefix(1);
    if (rest_.empty()) return std::nullopt;
    size_t end = rest_.find('/');
    if (end == std::string_view::npos) end = rest_.size();
    std::string_view component = rest_.substr(0, end);
    rest_.remove_prefix(end);
    if (component != ".") return component;
  }
}

namespace {

// [start, end) of the last component that counts, or nothing when the path
// has none but the root or a leading ".".
struct Span {
  size_t start, end;
};

std::optional<Span> last_component(std::string_view path) {
  size_t end = path.size();
  while (true) {
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return std::nullopt;
    size_t slash = path.rfind('/', end - 1);
    size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    if (path.substr(start, end - start) == "." && start > 0) {
      end = start;  // an inner or trailing ".": not a component
      continue;
    }
    if (start == 0 && path.substr(0, end) == ".") return std::nullopt;
    return Span{start, end};
  }
}

}  // namespace

std::optional<std::string_view> file_name(std::string_view path) {
  auto last = last_component(path);
  if (!last) return std::nullopt;
  std::string_view name = path.substr(last->start, last->end - last->start);
  if (name == "..") return std::nullopt;
  return name;
}

std::string_view parent_path(std::string_view path) {
  auto last = last_component(path);
  if (!last) return path;
  std::string_view parent = path.substr(0, last->start);
  // Trailing separators and "." components are not part of the parent; the
  // root and a leading "." are.
  while (true) {
    while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
    if (parent == "/" || parent == "." || parent.empty()) return parent;
    if (parent.ends_with("/.")) {
      parent.remove_suffix(1);
      continue;
    }
    return parent;
  }
}

bool same_components(std::string_view a, std::string_view b) {
  // An absolute path begins with the root component, a relative one never.
  if (a.starts_with('/') != b.starts_with('/')) return false;
  ComponentReader ra(a), rb(b);
  while (true) {
    auto ca = ra.next();
    auto cb = rb.next();
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

std::string replace_last_file_name(std::string_view text, std::string_view name, std::string_view replacement) {
  size_t at = text.rfind(name);
  std::string out(text.substr(0, at == std::string_view::npos ? text.size() : at));
  out += replacement;
  return out;
}

Result<std::string_view> require_file_name(std::string_view probe, std::string_view argument) {
  if (auto name = file_name(probe)) return *name;
  return fail("parsing as path with position " + std::string(argument));
}

std::string push_missing_components(std::string base, const std::vector<std::string_view>& tail) {
  for (auto it = tail.rbegin(); it != tail.rend(); ++it) {
    if (!base.empty() && base.back() != '/') base += '/';
    base += *it;
  }
  return base;
}

}  // namespace kiv
