#include "base/fs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kiv {
bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status create_dir_all(const std::string& path) {
  if (path.empty()) return {};
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err == ENOENT) {
    std::string parent = path;
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    size_t slash = parent.rfind('/');
    if (slash != std::string::npos) {
      KIV_TRY(create_dir_all(parent.substr(0, slash == 0 ? 1 : slash)));
      if (::mkdir(path.c_str(), 0777) == 0) return {};
      err = errno;
    }
  }
  if (is_directory(path)) return {};
  return fail_os(err);
}

Result<std::string> canonicalize(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return fail_last_os();
  std::string result(resolved);
  std::free(resolved);
  return result;
}

Result<std::string> current_dir() {
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) return fail_last_os();
  std::string result(cwd);
  std::free(cwd);
  return result;
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

std::string join_path(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

}  // namespace kiv
