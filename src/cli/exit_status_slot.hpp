// The one piece of mutable state the main thread shares with the exchange
// thread: the exit status the editor reports, stored at most once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace kiv {

class ExitStatusSlot {
 public:
  void store(std::int32_t status) {
    std::lock_guard lock(mutex_);
    status_ = status;
  }
  /// Takes the content out; the slot is empty afterwards.
  std::optional<std::int32_t> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(status_, std::nullopt);
  }

 private:
  std::mutex mutex_;
  std::optional<std::int32_t> status_;
};

using SharedExitStatusSlot = std::shared_ptr<ExitStatusSlot>;

}  // namespace kiv
