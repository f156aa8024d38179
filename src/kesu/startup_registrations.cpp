// The built-in actions announce themselves before main runs, NoAction first,
// so a walk of the registry meets Unbind first.
//
// Nothing refers to this file's symbols, so it must not sit in a static
// archive (the linker would never pull it in): it is linked into kiv as an
// object file. Its initialiser lives in .init_array, which section garbage
// collection keeps. The nodes and builders are constant-initialised statics,
// so the start costs two pushes: no allocation, no file.
#include "kesu/no_action.hpp"

namespace kesu {
namespace {

constexpr MacroActionBuilder no_action_builder{&no_action_registration};
constexpr MacroActionBuilder unbind_builder{&unbind_registration};

constinit ActionRegistry::Node no_action_node{&no_action_builder};
constinit ActionRegistry::Node unbind_node{&unbind_builder};

// Initialisers of one file run in the order they are written.
const ActionRegistry::Submit submit_no_action{REGISTRY, no_action_node};
const ActionRegistry::Submit submit_unbind{REGISTRY, unbind_node};

}  // namespace
}  // namespace kesu
