#include "base/eintr.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "base/unique_fd.hpp"

namespace kiv {
namespace {

void take_signal(int) {}

// SIGUSR1 handled without SA_RESTART for the object's lifetime, so that a
// blocking read it interrupts fails with EINTR instead of being restarted.
class InterruptingHandler {
 public:
  InterruptingHandler() {
    struct sigaction action {};
    action.sa_handler = take_signal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &old_);
  }
  ~InterruptingHandler() { ::sigaction(SIGUSR1, &old_, nullptr); }
  InterruptingHandler(const InterruptingHandler&) = delete;
  InterruptingHandler& operator=(const InterruptingHandler&) = delete;

 private:
  struct sigaction old_ {};
};

TEST(RetryOnEintr, TakesUpAReadASignalInterruptedAndReturnsWhatItRead) {
  InterruptingHandler handler;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd read_end(fds[0]), write_end(fds[1]);

  std::atomic<int> calls{0};
  std::atomic<bool> returned{false};
  ssize_t got = 0;
  char byte = 0;
  std::thread reader([&] {
    got = retry_on_eintr([&] {
      calls.fetch_add(1);
      return ::read(read_end.get(), &byte, 1);
    });
    returned.store(true);
  });
  // A second call can only follow a read that failed with EINTR. Until one
  // has, the reader is signalled again (a signal that lands before the read
  // blocks interrupts nothing); a reader that gives up on EINTR returns
  // instead, and the byte below then never arrives through it.
  while (calls.load() < 2 && !returned.load()) {
    ::pthread_kill(reader.native_handle(), SIGUSR1);
    std::this_thread::yield();
  }
  ASSERT_EQ(::write(write_end.get(), "k", 1), 1);
  reader.join();
  EXPECT_EQ(got, 1);
  EXPECT_EQ(byte, 'k');
  EXPECT_GE(calls.load(), 2);
}

// Every other outcome is the caller's: a failure with another errno, which
// stays as the call left it, and any result that is not a failure.
TEST(RetryOnEintr, ReturnsAnyOtherOutcomeAtOnce) {
  struct Case {
    int result;
    int err;
  };
  for (const Case c : {Case{-1, EAGAIN}, Case{0, EINTR}, Case{7, EINTR}}) {
    SCOPED_TRACE(c.result);
    int calls = 0;
    const int result = retry_on_eintr([&] {
      ++calls;
      errno = c.err;
      return c.result;
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(errno, c.err);
    EXPECT_EQ(calls, 1);
  }
}

}  // namespace
}  // namespace kiv
