#include "cli/side_modes.hpp"

namespace kiv {
namespace {

Status not_built(const char* feature) { return fail(std::string(feature) + " is not built yet"); }

constexpr SideMode SIDE_MODES[] = {
    {"--completions", [](const ArgsKind& a) { return a.completions.has_value(); }, run_completions},
    {"--version", [](const ArgsKind& a) { return a.version; }, print_version},
    {"--system-specs", [](const ArgsKind& a) { return a.system_specs; }, refuse_system_specs},
    {"--uninstall", [](const ArgsKind& a) { return a.uninstall; }, run_uninstall},
};

}  // namespace

std::span<const SideMode> side_modes() { return SIDE_MODES; }

Status run_completions(const ArgsKind&, const std::string&) { return not_built("--completions"); }
Status print_version(const ArgsKind&, const std::string&) { return not_built("--version"); }
Status refuse_system_specs(const ArgsKind&, const std::string&) { return not_built("--system-specs"); }
Status run_uninstall(const ArgsKind&, const std::string&) { return not_built("--uninstall"); }

}  // namespace kiv
