// Copying one descriptor's content into another, whole and in order.
#pragma once

#include <cstdint>

#include "base/error.hpp"

namespace kiv {

/// Copies everything from `from` (at its current position) to `to` (at its
/// position), in order: the kernel's in-kernel copy where the descriptor
/// kinds allow it, else a read/write loop. EINTR is retried, partial writes
/// continued; a write that takes nothing fails with "failed to write whole
/// buffer". Returns the number of bytes copied.
[[nodiscard]] Result<std::uint64_t> copy_all(int from, int to);

}  // namespace kiv
