// The one file that sees the generated commit header: a new commit
// recompiles this file and relinks, nothing else.
#include "cli/build_info.hpp"

#include "commit_id.hpp"

namespace kiv {

static_assert(std::string_view(KIV_COMMIT_ID).size() == 40);

std::string_view release_version() { return KIV_RELEASE_VERSION; }

std::string_view commit_id() { return KIV_COMMIT_ID; }

}  // namespace kiv
