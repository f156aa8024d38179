#include "cli/worker_pool.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include <mutex>

#include "base/error.hpp"
#include "base/panic.hpp"

namespace kiv {
namespace {

constexpr size_t kWorkers = 4;
constexpr size_t kWorkerStackSize = 10 * 1024 * 1024;

void* idle_worker(void* index) {
  // Named from inside: for the calling thread this is one prctl, where
  // naming another thread means writing a file under /proc.
  std::string name = rayon_worker_thread_name_shim(reinterpret_cast<size_t>(index));
  ::pthread_setname_np(::pthread_self(), name.c_str());
  // Nothing is ever queued on the pool: park until the process ends.
  for (;;) ::pause();
  return nullptr;
}

// The attributes of one worker: detached, on `stack`. A failed call is a
// broken invariant, like a thread that cannot start.
class WorkerAttributes {
 public:
  explicit WorkerAttributes(char* stack) {
    check(::pthread_attr_init(&attr_));
    check(::pthread_attr_setstack(&attr_, stack, kWorkerStackSize));
    check(::pthread_attr_setdetachstate(&attr_, PTHREAD_CREATE_DETACHED));
  }
  ~WorkerAttributes() { ::pthread_attr_destroy(&attr_); }
  WorkerAttributes(const WorkerAttributes&) = delete;
  WorkerAttributes& operator=(const WorkerAttributes&) = delete;
  const pthread_attr_t* get() const { return &attr_; }

  static void check(int err) {
    if (err != 0) panic("failed to build the global worker pool: " + os_error_description(err));
  }

 private:
  pthread_attr_t attr_;
};

}  // namespace

std::string rayon_worker_thread_name(size_t index) { return "RayonWorker" + std::to_string(index); }

void build_global_worker_pool() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The four stacks in one mapping, reserved but never touched beyond the
    // few bytes an idle worker uses: one mmap instead of a mapping and a
    // protection change per thread. The workers never run code that could
    // need the guard page a stack of the C library's own would have.
    void* stacks = ::mmap(nullptr, kWorkers * kWorkerStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (stacks == MAP_FAILED) WorkerAttributes::check(errno);
    for (size_t i = 0; i < kWorkers; ++i) {
      WorkerAttributes attributes(static_cast<char*>(stacks) + i * kWorkerStackSize);
      pthread_t thread;
      WorkerAttributes::check(::pthread_create(&thread, attributes.get(), idle_worker, reinterpret_cast<void*>(i)));
    }
  });
}

}  // namespace kiv
