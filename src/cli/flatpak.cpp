#include "cli/flatpak.hpp"

#include <cstdlib>
#include <vector>

#include "base/text.hpp"

namespace kiv {

bool inside_editor_sandbox() {
  auto id = env_text("FLATPAK_ID");
  return id && id->starts_with(KIV_FLATPAK_APP_ID);
}

Status restart_on_flatpak_host() {
  if (env_text("KIV_FLATPAK_NO_ESCAPE") || !inside_editor_sandbox()) return {};
  // PLACEHOLDER(flatpak): the host escape.
  return fail("the Flatpak host escape is not built yet");
}

std::string extended_library_path(const std::optional<std::string>& ld_library_path,
                                  const std::optional<std::string>& lib_path) {
  std::vector<std::string_view> elements;
  if (ld_library_path) {
    std::string_view rest = *ld_library_path;
    for (;;) {
      size_t colon = rest.find(':');
      elements.push_back(rest.substr(0, colon));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (lib_path) elements.push_back(*lib_path);
  std::string joined;
  for (size_t i = 0; i < elements.size(); ++i) {
    if (i > 0) joined += ':';
    joined += elements[i];
  }
  return joined;
}

void extend_library_path() {
  std::string value = extended_library_path(env_text("LD_LIBRARY_PATH"), env_text("KIV_FLATPAK_LIB_PATH"));
  ::setenv("LD_LIBRARY_PATH", value.c_str(), 1);
}

Status use_sandbox_editor(std::optional<std::string>& kiv) {
  if (!env_text("KIV_FLATPAK_NO_ESCAPE") || !inside_editor_sandbox() || kiv) return {};
  // PLACEHOLDER(flatpak): the in-sandbox editor.
  return fail("running inside the Flatpak sandbox is not built yet");
}

}  // namespace kiv
