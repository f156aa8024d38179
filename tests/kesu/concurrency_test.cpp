// Pushes and shared texts from many threads at once. Built on its own so that
// it can also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

#include "kesu/compact_string.hpp"
#include "kesu/registry.hpp"

namespace kesu {
namespace {

TEST(RegistryPush, ConcurrentPushesEachLandExactlyOnce) {
  constexpr int kThreads = 16;
  constexpr int kPerThread = 2000;
  using IntRegistry = Registry<int>;
  IntRegistry registry;
  std::vector<int> items(kThreads * kPerThread);
  std::vector<IntRegistry::Node> nodes(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i] = static_cast<int>(i);
    nodes[i].item = &items[i];
  }

  // A reader walks the list while it grows: every walk must end, and since
  // a node is linked before it is published, no walk is shorter than the one
  // before it.
  std::atomic<bool> pushing = true;
  std::size_t walks = 0;
  std::barrier start(kThreads + 1);  // the pushers and the reader set off together
  std::thread reader([&] {
    std::size_t longest = 0;
    start.arrive_and_wait();
    do {
      std::size_t length = 0;
      for (auto it = registry.begin(); it != registry.end() && length <= items.size(); ++it) ++length;
      EXPECT_LE(length, items.size());
      EXPECT_GE(length, longest);
      longest = length;
      ++walks;
    } while (pushing.load());
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kPerThread; ++i) registry.push(nodes[static_cast<std::size_t>(t * kPerThread + i)]);
    });
  }
  for (auto& thread : threads) thread.join();
  pushing = false;
  reader.join();
  EXPECT_GT(walks, 0u);

  std::vector<int> seen(items.size(), 0);
  std::vector<int> last_of_thread(kThreads, kPerThread);
  std::size_t count = 0;
  for (int item : registry) {
    ASSERT_LT(count++, items.size()) << "the list does not end";
    ++seen[static_cast<std::size_t>(item)];
    // One thread's pushes come out newest first.
    const int thread = item / kPerThread;
    EXPECT_LT(item % kPerThread, last_of_thread[static_cast<std::size_t>(thread)]);
    last_of_thread[static_cast<std::size_t>(thread)] = item % kPerThread;
  }
  EXPECT_EQ(count, items.size());
  for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], 1) << "item " << i;
}

TEST(RegistryPush, ReadsBackNewestFirst) {
  Registry<int> registry;
  EXPECT_EQ(registry.begin(), registry.end());
  int one = 1, two = 2;
  Registry<int>::Node first{&one}, second{&two};
  registry.push(first);
  registry.push(second);
  std::vector<int> walked(registry.begin(), registry.end());
  EXPECT_EQ(walked, (std::vector<int>{2, 1}));
}

TEST(CompactString, CopiesMadeAndDroppedOnManyThreadsFreeTheTextOnce) {
  const std::string text(100, 'k');
  constexpr int kThreads = 8;
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  {
    CompactString shared(text);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&start, copy = shared, &text] {
        start.arrive_and_wait();
        for (int i = 0; i < 1000; ++i) {
          CompactString another = copy;
          EXPECT_EQ(another.view().size(), text.size());
        }
        EXPECT_EQ(copy.view(), text);
      });
    }
  }  // the original goes first; the threads hold the last copies
  for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace kesu
