#include "cli/threads.hpp"

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace kiv {
namespace {

constexpr size_t kWorkers = 4;
constexpr size_t kWorkerStackSize = 10 * 1024 * 1024;

void* idle_worker(void*) {
  // Nothing is ever queued on the pool: park until the process ends.
  for (;;) ::pause();
  return nullptr;
}

}  // namespace

std::string rayon_worker_thread_name(size_t index) { return "RayonWorker" + std::to_string(index); }

void build_global_worker_pool() {
  static std::once_flag once;
  std::call_once(once, [] {
    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setstacksize(&attr, kWorkerStackSize);
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    for (size_t i = 0; i < kWorkers; ++i) {
      pthread_t thread;
      int err = ::pthread_create(&thread, &attr, idle_worker, nullptr);
      if (err != 0) panic("failed to build the global worker pool: " + std::string(std::strerror(err)));
      ::pthread_setname_np(thread, rayon_worker_thread_name_shim(i).c_str());
    }
    ::pthread_attr_destroy(&attr);
  });
}

}  // namespace kiv
