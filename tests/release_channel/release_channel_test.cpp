#include "release_channel/release_channel.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ReleaseChannel, IsStableOnEveryRead) {
  EXPECT_EQ(compile_time_release_channel_name(), "stable");
  const std::string& first = RELEASE_CHANNEL_NAME.get();
  const std::string& second = RELEASE_CHANNEL_NAME;
  EXPECT_EQ(first, "stable");
  EXPECT_EQ(&first, &second);
}

}  // namespace
}  // namespace kiv
