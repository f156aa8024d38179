// The idle worker pool of the open path.
#pragma once

#include <cstddef>
#include <string>

namespace kiv {

/// "RayonWorker" followed by `index` in decimal.
std::string rayon_worker_thread_name(size_t index);
/// The same name, in the form the pool takes it.
inline std::string rayon_worker_thread_name_shim(size_t index) { return rayon_worker_thread_name(index); }

/// Builds the process-wide worker pool once: four idle threads with 10 MiB
/// stacks named RayonWorker0 to RayonWorker3. It is given no work and lives
/// until the process ends. Failing to start a thread is a broken invariant.
void build_global_worker_pool();

}  // namespace kiv
