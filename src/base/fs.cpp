#include "base/fs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace kiv
