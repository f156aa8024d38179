#include "cli/worker_pool.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace kiv {
namespace {

std::vector<std::string> worker_names() {
  std::vector<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm = testing::read_file(task.path() / "comm");
    if (comm.starts_with("RayonWorker")) names.push_back(comm);
  }
  std::sort(names.begin(), names.end());
  return names;
}

long thread_count() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator());
}

bool pool_names_are_right() {
  // A thread is listed as soon as it is created, so a second build that
  // started anything would show here, named or not yet.
  build_global_worker_pool();
  const long after_first = thread_count();
  build_global_worker_pool();  // once per process
  if (thread_count() != after_first) return false;
  // Each worker names itself once it runs: wait for all four.
  const std::vector<std::string> expected = {"RayonWorker0\n", "RayonWorker1\n", "RayonWorker2\n", "RayonWorker3\n"};
  for (int i = 0; i < 2000; ++i) {
    auto names = worker_names();
    if (names == expected) return true;
    if (names.size() > expected.size()) return false;
    ::usleep(1000);
  }
  return false;
}

TEST(WorkerPool, FourIdleThreadsNamedRayonWorker0To3) {
  EXPECT_EQ(rayon_worker_thread_name(0), "RayonWorker0");
  EXPECT_EQ(rayon_worker_thread_name_shim(3), "RayonWorker3");
  EXPECT_EXIT(_exit(pool_names_are_right() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kiv
