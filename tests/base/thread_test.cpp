#include "base/thread.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

namespace kiv {
namespace {

TEST(SpawnNamedThread, RunsUnderItsNameAndHandsBackTheResult) {
  auto handle = spawn_named_thread<std::string>("CliAnonymousFd", [] {
    char name[16] = {};
    ::pthread_getname_np(::pthread_self(), name, sizeof name);
    return std::string(name);
  });
  EXPECT_EQ(handle.join(), "CliAnonymousFd");
}

}  // namespace
}  // namespace kiv
