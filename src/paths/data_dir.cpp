#include "paths/data_dir.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/panic.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"

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

std::optional<std::string> home_from_passwd(std::string_view passwd, unsigned uid) {
  const std::string wanted = std::to_string(uid);
  while (!passwd.empty()) {
    size_t end = passwd.find('\n');
    std::string_view line = passwd.substr(0, end);
    passwd.remove_prefix(end == std::string_view::npos ? passwd.size() : end + 1);
    std::string_view fields[7];
    size_t count = 0;
    for (size_t at = 0; count < 7;) {
      size_t colon = line.find(':', at);
      fields[count++] = line.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
      if (colon == std::string_view::npos) break;
      at = colon + 1;
    }
    if (count < 6 || fields[2] != wanted) continue;
    if (fields[5].empty()) return std::nullopt;
    return std::string(fields[5]);
  }
  return std::nullopt;
}

std::optional<std::string> passwd_home_dir() {
  std::string passwd;
  UniqueFd fd(::open("/etc/passwd", O_RDONLY | O_CLOEXEC));
  if (!fd || !read_to_end(fd.get(), passwd)) return std::nullopt;
  return home_from_passwd(passwd, ::getuid());
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
