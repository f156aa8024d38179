#include "base/panic.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(Panic, StopsWithStatus101AndTheDiagnostic) {
  EXPECT_EXIT(panic("impossible state"), ::testing::ExitedWithCode(101), "^impossible state\n$");
}

}  // namespace
}  // namespace kiv
