#include "base/thread.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>

namespace kiv {
namespace {

// The body owns move-only state, as the descriptor relays do.
TEST(SpawnNamedThread, RunsAMoveOnlyBodyUnderItsNameAndHandsBackTheResult) {
  auto prefix = std::make_unique<std::string>("named ");
  auto handle = spawn_named_thread("CliAnonymousFd", [prefix = std::move(prefix)] {
    char name[16] = {};
    ::pthread_getname_np(::pthread_self(), name, sizeof name);
    return *prefix + name;
  });
  EXPECT_EQ(handle.join(), "named CliAnonymousFd");
}

}  // namespace
}  // namespace kiv
