#include "cli/open_args.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.hpp"

namespace kiv {
namespace {

TEST(HasUrlPrefix, ExactCaseSensitivePrefixes) {
  struct Case {
    const char* argument;
    bool url;
  };
  const Case cases[] = {
      {"kiv://settings", true}, {"http://x", true},  {"https://x", true}, {"file:///etc", true},
      {"ssh://host/p", true},   {"HTTP://x", false}, {"http:/x", false}, {"http:", false},
      {"", false},              {"xhttp://", false}, {"http://", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(has_url_prefix(c.argument), c.url);
  }
}

TEST(DiffPairsContainDir, TestsValuesAsTyped) {
  testing::ScopedTempDir dir;
  std::filesystem::create_directories(dir.sub("d"));
  testing::write_file(dir.sub("f"), "");
  std::filesystem::create_directory_symlink(dir.sub("d"), dir.sub("link"));
  using V = std::vector<std::string>;
  EXPECT_FALSE(diff_pairs_contain_dir(V{}));
  EXPECT_FALSE(diff_pairs_contain_dir(V{dir.sub("f"), dir.sub("missing")}));
  EXPECT_FALSE(diff_pairs_contain_dir(V{dir.sub("d") + ":3", dir.sub("f")}));
  EXPECT_TRUE(diff_pairs_contain_dir(V{dir.sub("f"), dir.sub("f"), dir.sub("f"), dir.sub("d")}));
  EXPECT_TRUE(diff_pairs_contain_dir(V{dir.sub("link"), dir.sub("f")}));
}

TEST(ProcSelfFdNumber, SignedDecimalWithoutOverflow) {
  struct Case {
    const char* argument;
    std::optional<int> number;
  };
  const Case cases[] = {
      {"/proc/self/fd/3", 3},         {"/proc/self/fd/+3", 3},          {"/proc/self/fd/-3", -3},
      {"/proc/self/fd/007", 7},       {"/proc/self/fd/2147483647", 2147483647},
      {"/proc/self/fd/-2147483648", -2147483647 - 1},
      {"/proc/self/fd/2147483648", std::nullopt},  {"/proc/self/fd/", std::nullopt},
      {"/proc/self/fd/+", std::nullopt},           {"/proc/self/fd/3x", std::nullopt},
      {"/proc/self/fd/ 3", std::nullopt},          {"/proc/self/fd/3/", std::nullopt},
      {"/proc/self/fd", std::nullopt},             {"/proc/1/fd/3", std::nullopt},
      {"/proc/self/fd/99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(proc_self_fd_number(c.argument), c.number);
  }
}

TEST(AnonymousFdFromPath, OnlyMemfdsAreRecognised) {
  testing::ScopedTempDir dir;
  UniqueFd memfd(::memfd_create("notes", 0));  // as a caller passes it: inheritable
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd pipe_read(pipe_fds[0]), pipe_write(pipe_fds[1]);
  int socks[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socks), 0);
  UniqueFd sock_a(socks[0]), sock_b(socks[1]);
  // A regular file whose name mimics what the kernel shows for a memfd.
  std::filesystem::create_directories(dir.sub("memfd:x"));
  testing::write_file(dir.sub("memfd:x/f"), "");
  UniqueFd regular(::open(dir.sub("memfd:x/f").c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd shm(::open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC));

  auto arg = [](int fd) { return "/proc/self/fd/" + std::to_string(fd); };
  for (int fd : {pipe_read.get(), sock_a.get(), regular.get(), shm.get()}) {
    SCOPED_TRACE(fd);
    EXPECT_FALSE(anonymous_fd_from_path(arg(fd)));
  }
  EXPECT_FALSE(anonymous_fd_from_path("/proc/self/fd/987654"));
  EXPECT_FALSE(anonymous_fd_from_path(std::string("/proc/self/fd/3\0", 16)));

  int number = memfd.get();
  auto taken = anonymous_fd_from_path(arg(number));
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->get(), number);
  EXPECT_TRUE(::fcntl(number, F_GETFD) & FD_CLOEXEC);
  memfd.release();  // owned by `taken` now
}

}  // namespace
}  // namespace kiv
