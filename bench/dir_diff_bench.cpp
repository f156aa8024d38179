// Directory-diff expansion against a plain walk of both trees.
//
//   build/bench/dir_diff_bench [DIR] [FILES] [ROUNDS]
//
// Builds two trees of FILES regular files each under DIR (once; reused when
// present), a tenth of them on one side only, then times, interleaved,
// `find OLD NEW -type f`, the expansion of OLD against itself (two walks,
// no placeholder) and of OLD against NEW, and prints medians and the peak
// resident size.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/dir_diff.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static void make_tree(const std::string& root, int files, bool is_new) {
  if (fs::exists(root + "/.complete")) return;
  fs::remove_all(root);
  for (int i = 0; i < files; ++i) {
    // One-sided files: every tenth exists only in the tree of its parity.
    if (i % 10 == 0 && (i / 10) % 2 == (is_new ? 0 : 1)) continue;
    std::string dir = root + "/d" + std::to_string(i / 100) + "/e" + std::to_string(i % 7);
    fs::create_directories(dir);
    std::ofstream(dir + "/f" + std::to_string(i) + ".txt");
  }
  std::ofstream(root + "/.complete");
}

static double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "/tmp/kiv-dir-diff-bench";
  int files = argc > 2 ? std::atoi(argv[2]) : 100000;
  int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  std::string old_root = dir + "/old", new_root = dir + "/new", tmp = dir + "/tmp";
  make_tree(old_root, files, false);
  make_tree(new_root, files, true);
  std::vector<double> find_ms, expand_ms, same_ms;
  size_t pairs = 0;
  for (int r = 0; r < rounds; ++r) {
    fs::remove_all(tmp);
    fs::create_directories(tmp);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    auto t0 = Clock::now();
    std::string cmd = "find '" + old_root + "' '" + new_root + "' -type f > /dev/null";
    if (std::system(cmd.c_str()) != 0) return 1;
    auto t1 = Clock::now();
    auto result = kiv::expand_dir_diffs({{old_root, new_root}});
    auto t2 = Clock::now();
    if (!result) {
      std::fprintf(stderr, "%s\n", result.error().display().c_str());
      return 1;
    }
    pairs = result->pairs.size();
    auto t3 = Clock::now();
    auto same = kiv::expand_dir_diffs({{old_root, old_root}});
    auto t4 = Clock::now();
    if (!same) return 1;
    same_ms.push_back(std::chrono::duration<double, std::milli>(t4 - t3).count());
    find_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    expand_ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
  }
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("trees: 2 x ~%d files, %zu pairs\n", files, pairs);
  std::printf("find OLD NEW -type f: median %.1f ms\n", median(find_ms));
  std::printf("expand OLD OLD:       median %.1f ms (two walks, no placeholder)\n", median(same_ms));
  std::printf("expand OLD NEW:       median %.1f ms (with %d empty placeholders made)\n", median(expand_ms),
              files / 10);
  std::printf("peak RSS: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  fs::remove_all(tmp);
  return 0;
}
