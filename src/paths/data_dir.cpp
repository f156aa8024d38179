#include "paths/data_dir.hpp"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/fs.hpp"
#include "base/panic.hpp"
#include "base/text.hpp"

namespace kiv {
namespace {

constexpr const char* kDataDirComponent = "kiv";
constexpr const char* kLocalShare = ".local/share";

struct Locations {
  std::mutex mutex;
  std::optional<std::string> custom_data_dir;
  std::once_flag data_dir_once;
  std::optional<Result<std::string>> data_dir;
  std::atomic<bool> data_dir_filled{false};
  std::atomic<bool> config_dir_filled{false};
};

Locations& locations() {
  static Locations instance;
  return instance;
}


Result<std::string> init_custom_data_dir(const std::string& dir) {
  KIV_TRY(with_context(create_dir_all(dir), "failed to create custom data directory"));
  return with_context(canonicalize(dir), "failed to canonicalize custom data directory's path to an absolute path");
}

}  // namespace

Result<std::string> set_custom_data_dir(const std::string& dir) {
  Locations& l = locations();
  if (l.data_dir_filled.load() || l.config_dir_filled.load())
    panic("set_custom_data_dir called after data_dir or config_dir was initialized");
  std::lock_guard lock(l.mutex);
  if (!l.custom_data_dir) {
    KIV_TRY_ASSIGN(std::string canonical, init_custom_data_dir(dir));
    l.custom_data_dir = std::move(canonical);
  }
  return *l.custom_data_dir;
}

Result<std::string> init_data_dir(const std::optional<std::string>& custom, const EnvLookup& env,
                                  const std::function<std::optional<std::string>()>& passwd_home) {
  if (custom) return *custom;
  std::optional<std::string> base;
  if (auto flatpak = env("FLATPAK_XDG_DATA_HOME"); flatpak && is_valid_utf8(*flatpak)) {
    base = *flatpak;
  } else if (auto xdg = env("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    base = *xdg;
  } else {
    std::optional<std::string> home = env("HOME");
    if (!home || home->empty()) home = passwd_home();
    if (home && !home->empty()) base = join_path(*home, kLocalShare);
  }
  if (!base) return fail("failed to determine XDG_DATA_HOME directory");
  return join_path(*base, kDataDirComponent);
}

std::optional<std::string> passwd_home_dir() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(buffer.size() * 2);
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') return std::nullopt;
  return std::string(found->pw_dir);
}

Result<std::string> data_dir() {
  Locations& l = locations();
  std::call_once(l.data_dir_once, [&] {
    std::optional<std::string> custom;
    {
      std::lock_guard lock(l.mutex);
      custom = l.custom_data_dir;
    }
    l.data_dir = init_data_dir(custom, env_bytes, passwd_home_dir);
    l.data_dir_filled.store(true);
  });
  return *l.data_dir;
}

std::optional<std::string> config_dir() { return std::nullopt; }

}  // namespace kiv
