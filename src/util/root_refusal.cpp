#include "util/root_refusal.hpp"

#include <unistd.h>

#include "base/io.hpp"
#include "base/text.hpp"

namespace kiv {

const std::string_view ROOT_REFUSAL_TEXT =
    "Error: Running Kiv as root or via sudo is unsupported.\n"
    "       Doing so (even once) may subtly break things for all subsequent non-root usage of Kiv.\n"
    "       It is untested and not recommended, don't complain when things break.\n"
    "       If you wish to proceed anyways, set `KIV_ALLOW_ROOT=true` in your environment.\n";

std::optional<ExitStatus> prevent_root_execution() {
  if (::geteuid() != 0) return std::nullopt;
  if (env_text("KIV_ALLOW_ROOT") == "true") return std::nullopt;
  (void)write_all(STDERR_FILENO, ROOT_REFUSAL_TEXT);
  return 1;
}

}  // namespace kiv
