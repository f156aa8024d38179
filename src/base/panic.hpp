// Broken invariants: not errors a user can cause, so they stay out of the
// error chain and stop the process at once with status 101.
#pragma once

#include <string_view>

namespace kiv {

/// Flushes standard output, writes `message` and a newline to standard error
/// in one write, and ends the process with status 101.
[[noreturn]] void panic(std::string_view message);

}  // namespace kiv

/// An assertion that stays on in every build.
#define KIV_ASSERT(cond)                                                          \
  do {                                                                            \
    if (!(cond)) ::kiv::panic("assertion failed: " #cond " at " __FILE__ ":" KIV_STRINGIFY(__LINE__)); \
  } while (0)
#define KIV_STRINGIFY_INNER(x) #x
#define KIV_STRINGIFY(x) KIV_STRINGIFY_INNER(x)
