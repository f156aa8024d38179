// Standard input and anonymous memory files carried to the editor in
// temporary files.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_support.hpp"

namespace kiv::e2e {
namespace {

namespace fs = std::filesystem;
using testing::run_process;

class CopyE2e : public E2eTest {
 protected:
  // The one temporary file the request names, by its content.
  std::string only_path_content() {
    auto request = only_open_request();
    EXPECT_EQ(request["paths"].size(), 1u) << request.dump();
    if (request["paths"].empty()) return "<no path>";
    std::string path = request["paths"][0];
    EXPECT_TRUE(path.starts_with(env_["TMPDIR"] + "/.tmp")) << path;
    return testing::read_file(path);
  }
};

// Bytes that show a reordered, lost or repeated chunk: no block repeats.
std::string patterned(size_t size) {
  std::string data(size, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    data[i] = static_cast<char>(x);
  }
  return data;
}

TEST_F(CopyE2e, PipedStandardInputArrivesWholeBeforeKivEnds) {
  script("receive\nexit 0\n");
  const std::string data = patterned(64u << 20);
  auto options = kiv({"-"});
  options.stdin_mode = testing::Stdio::Pipe;
  options.stdin_data = data;
  options.timeout = std::chrono::seconds(60);
  auto result = run_process(options);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::string copied = only_path_content();
  EXPECT_EQ(copied.size(), data.size());
  EXPECT_TRUE(copied == data);
}

TEST_F(CopyE2e, EmptyStandardInputGivesAnEmptyFile) {
  script("receive\nexit 0\n");
  auto result = run_process(kiv({"-"}));  // /dev/null
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(only_path_content(), "");
}

TEST_F(CopyE2e, TerminalStandardInputGivesAnEmptyFileAtOnce) {
  // Nothing is ever typed: a kiv that read the terminal would not end.
  script("receive\nexit 0\n");
  auto options = kiv({"-"});
  options.timeout = std::chrono::seconds(20);
  auto result = run_in_pty(options);
  EXPECT_FALSE(result.timed_out);
  ASSERT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(only_path_content(), "");
}

TEST_F(CopyE2e, TwoMemoryFilesArriveInArgumentOrder) {
  script("receive\nexit 0\n");
  // Inherited by kiv: no close-on-exec.
  int first = ::memfd_create("first", 0), second = ::memfd_create("second", 0);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  const std::string big = patterned(3u << 20);
  ASSERT_EQ(::write(first, big.data(), big.size()), static_cast<ssize_t>(big.size()));
  ASSERT_EQ(::write(second, "0123456789", 10), 10);
  ::lseek(first, 0, SEEK_SET);
  ::lseek(second, 4, SEEK_SET);  // copied from where the file stands
  auto result = run_process(
      kiv({"/proc/self/fd/" + std::to_string(first), "/proc/self/fd/" + std::to_string(second)}));
  ::close(first);
  ::close(second);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  auto request = only_open_request();
  ASSERT_EQ(request["paths"].size(), 2u) << request.dump();
  EXPECT_TRUE(testing::read_file(request["paths"][0]) == big);
  EXPECT_EQ(testing::read_file(request["paths"][1]), "456789");
}

}  // namespace
}  // namespace kiv::e2e
