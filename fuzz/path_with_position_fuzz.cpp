// Position suffixes and path resolution: any argument bytes, resolved in a
// small tree of real files (names with colons and parentheses, a directory,
// a symbolic link loop), must neither crash nor break these properties:
// a position written back after a plain path parses to the same path and
// position, and a resolved argument is an absolute UTF-8 text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "base/text.hpp"
#include "util/path_with_position.hpp"

namespace {

// Printable ASCII without blanks, colons or parentheses, not ending in a slash.
bool plain(std::string_view path) {
  if (path.empty() || path.back() == '/') return false;
  for (char c : path) {
    if (c <= ' ' || c > '~' || c == ':' || c == '(' || c == ')') return false;
  }
  return true;
}

std::string g_root;
int g_tree = -1;      // the tree's directory "dir", where arguments are resolved
int g_original = -1;  // the fuzzer's own working directory, kept for its files

void remove_root() {
  if (!g_root.empty()) (void)std::system(("rm -rf '" + g_root + "'").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libFuzzer may end without running atexit handlers: scripts/fuzz points
  // TMPDIR into the build directory so that a tree left behind stays there.
  const char* tmpdir = std::getenv("TMPDIR");
  std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/kiv-fuzz-paths.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  g_root = pattern;
  std::atexit(remove_root);
  for (const char* dir : {"/dir", "/dir/sub", "/dir:3"}) ::mkdir((g_root + dir).c_str(), 0755);
  for (const char* file : {"/main.rs", "/main.rs:10", "/a(1,2)", "/dir/file.txt", "/ünï", "/dir:3/x"}) {
    int fd = ::open((g_root + file).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  (void)::symlink("loop", (g_root + "/loop").c_str());
  (void)::symlink("dir/sub", (g_root + "/link").c_str());
  g_tree = ::open((g_root + "/dir").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  g_original = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g_tree < 0 || g_original < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const kiv::PathWithPosition parsed = kiv::PathWithPosition::parse_str(text);
  FUZZ_CHECK(parsed.path.size() <= text.size());
  // Written back after a plain path, the position reads back the same. (A
  // path that itself looks like a suffix, "x:5" with row 1, or that ends in
  // a slash, reads back differently by design.)
  if (parsed.row && plain(parsed.path)) {
    const std::string written = parsed.to_string([](std::string_view p) { return std::string(p); });
    const kiv::PathWithPosition again = kiv::PathWithPosition::parse_str(written);
    FUZZ_CHECK(again.path == parsed.path);
    FUZZ_CHECK(again.row == parsed.row);
    FUZZ_CHECK(again.column == parsed.column);
  }

  FUZZ_CHECK(::fchdir(g_tree) == 0);
  auto resolved = kiv::parse_path_with_position(text);
  FUZZ_CHECK(::fchdir(g_original) == 0);
  if (resolved) {
    FUZZ_CHECK(!resolved->empty() && resolved->front() == '/');
    FUZZ_CHECK(kiv::is_valid_utf8(*resolved));
  } else {
    FUZZ_CHECK(!resolved.error().display().empty());
  }
  return 0;
}
