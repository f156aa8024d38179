// System calls taken up again when a signal interrupts them.
#pragma once

#include <cerrno>

namespace kiv {

/// Calls `call` (a system call, in the form `[&] { return ::read(...); }`)
/// again for as long as it fails with EINTR, and returns what it returned
/// last, with errno as that call left it: a signal whose handler ran is not
/// a failure of the call. Any other result, failures included, is the
/// caller's to judge.
template <class Call>
auto retry_on_eintr(Call&& call) -> decltype(call()) {
  for (;;) {
    auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

}  // namespace kiv
