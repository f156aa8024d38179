#include "base/copy.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "base/io.hpp"
#include "base/unique_fd.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

std::string random_bytes(size_t n) {
  std::mt19937 rng(42);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

UniqueFd open_file(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

// Every kind of source the copy meets: a pipe fed by a writer thread, a
// regular file, a memfd, and a socket (which no in-kernel copy takes).
TEST(CopyAll, EverySourceKindArrivesCompleteAndInOrder) {
  testing::ScopedTempDir dir;
  const std::string data = random_bytes(3 * 1024 * 1024 + 17);
  struct Source {
    const char* name;
    UniqueFd read_end;
    std::thread writer;
  };
  std::vector<Source> sources;
  {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    UniqueFd write_end(p[1]);
    sources.push_back({"pipe", UniqueFd(p[0]), std::thread([&data, w = std::move(write_end)]() mutable {
                         (void)write_all(w.get(), data);
                       })});
  }
  {
    testing::write_file(dir.sub("regular"), data);
    sources.push_back({"regular file", UniqueFd(::open(dir.sub("regular").c_str(), O_RDONLY)), {}});
  }
  {
    UniqueFd memfd(::memfd_create("kiv-test", MFD_CLOEXEC));
    ASSERT_TRUE(write_all(memfd.get(), data));
    ::lseek(memfd.get(), 0, SEEK_SET);
    sources.push_back({"memfd", std::move(memfd), {}});
  }
  {
    int s[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s), 0);
    UniqueFd write_end(s[1]);
    sources.push_back({"socket", UniqueFd(s[0]), std::thread([&data, w = std::move(write_end)]() mutable {
                         (void)write_all(w.get(), data);
                       })});
  }
  for (auto& source : sources) {
    SCOPED_TRACE(source.name);
    std::string target = dir.sub(std::string("out-") + source.name);
    UniqueFd out = open_file(target);
    auto copied = copy_all(source.read_end.get(), out.get());
    if (source.writer.joinable()) source.writer.join();
    ASSERT_TRUE(copied) << copied.error().display();
    EXPECT_EQ(*copied, data.size());
    EXPECT_TRUE(testing::read_file(target) == data);
  }
}

TEST(CopyAll, StartsAtTheSourcesCurrentPosition) {
  UniqueFd memfd(::memfd_create("kiv-test", MFD_CLOEXEC));
  ASSERT_TRUE(write_all(memfd.get(), "skip-this|keep this"));
  ::lseek(memfd.get(), 10, SEEK_SET);
  testing::ScopedTempDir dir;
  UniqueFd out = open_file(dir.sub("out"));
  ASSERT_EQ(copy_all(memfd.get(), out.get()).value(), 9u);
  EXPECT_EQ(testing::read_file(dir.sub("out")), "keep this");
}

TEST(CopyAll, AFullDestinationIsAnError) {
  UniqueFd memfd(::memfd_create("kiv-test", MFD_CLOEXEC));
  ASSERT_TRUE(write_all(memfd.get(), "data"));
  ::lseek(memfd.get(), 0, SEEK_SET);
  UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  auto copied = copy_all(memfd.get(), full.get());
  ASSERT_FALSE(copied);
  EXPECT_EQ(copied.error().display(), "No space left on device (os error 28)");
}

}  // namespace
}  // namespace kiv
