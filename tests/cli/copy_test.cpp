#include "cli/copy.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "base/io.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

UniqueFd open_file(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

TEST(RelayAnonymousFd, RunsOnANamedThreadAndClosesBothDescriptors) {
  testing::ScopedTempDir dir;
  UniqueFd memfd(::memfd_create("kiv-test", MFD_CLOEXEC));
  ASSERT_TRUE(write_all(memfd.get(), "content"));
  ::lseek(memfd.get(), 0, SEEK_SET);
  int source = memfd.get(), destination;
  UniqueFd out = open_file(dir.sub("out"));
  destination = out.get();
  std::vector<RelayPair> pairs;
  pairs.push_back(RelayPair{std::move(memfd), std::move(out)});
  auto handles = spawn_anonymous_fd_relays(std::move(pairs));
  ASSERT_EQ(handles.size(), 1u);
  EXPECT_EQ(handles[0].join().value(), 7u);
  EXPECT_EQ(testing::read_file(dir.sub("out")), "content");
  EXPECT_EQ(::fcntl(source, F_GETFD), -1);
  EXPECT_EQ(::fcntl(destination, F_GETFD), -1);
}

}  // namespace
}  // namespace kiv
