// Named threads whose result is read when they are joined.
#pragma once

#include <pthread.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "base/panic.hpp"

namespace kiv {

/// A started thread with a result of type T. Joining returns the result; a
/// handle released without joining leaves the thread running, detached.
template <class T>
class JoinHandle {
 public:
  JoinHandle() = default;
  JoinHandle(std::thread thread, std::shared_ptr<std::optional<T>> result)
      : thread_(std::move(thread)), result_(std::move(result)) {}
  JoinHandle(JoinHandle&&) noexcept = default;
  JoinHandle& operator=(JoinHandle&& other) noexcept {
    if (thread_.joinable()) thread_.detach();
    thread_ = std::move(other.thread_);
    result_ = std::move(other.result_);
    return *this;
  }
  ~JoinHandle() {
    if (thread_.joinable()) thread_.detach();
  }

  /// Waits for the thread and takes its result.
  T join() {
    thread_.join();
    KIV_ASSERT(result_ && result_->has_value());
    return std::move(**result_);
  }

 private:
  std::thread thread_;
  std::shared_ptr<std::optional<T>> result_;
};

/// Starts `body`, a callable taken by move (it may own descriptors and other
/// move-only state), on a new thread named `name` (at most 15 bytes); the
/// handle's result is what `body` returns. A thread that cannot be started
/// is a broken invariant.
template <class Body, class T = std::invoke_result_t<std::decay_t<Body>&>>
JoinHandle<T> spawn_named_thread(const char* name, Body&& body) {
  auto result = std::make_shared<std::optional<T>>();
  std::thread thread;
  try {
    thread = std::thread([result, body = std::forward<Body>(body), thread_name = std::string(name)]() mutable {
      // Named from inside: for the calling thread this is one prctl, where
      // naming another thread means writing a file under /proc.
      ::pthread_setname_np(::pthread_self(), thread_name.c_str());
      result->emplace(body());
    });
  } catch (const std::system_error& e) {
    panic(std::string("failed to spawn thread ") + name + ": " + e.what());
  }
  return JoinHandle<T>(std::move(thread), std::move(result));
}

}  // namespace kiv
