#include "base/signal_cleanup.hpp"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/signal_handlers.hpp"

namespace kiv {
namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Written only while g_armed is false, read by the handler only after it has
// taken g_armed from true to false.
char g_file[PATH_MAX];
char g_dir[PATH_MAX];
std::atomic<bool> g_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads it");

// Removes the armed file and directory, once, whoever comes first; only
// async-signal-safe calls.
void remove_armed_paths() {
  if (g_armed.exchange(false)) {
    ::unlink(g_file);
    ::rmdir(g_dir);
  }
}

extern "C" void remove_and_end(int signal_number) {
  const int saved_errno = errno;
  remove_armed_paths();
  errno = saved_errno;
  reraise_with_default_action(signal_number);
}

// Arming and disarming, from any thread; the handler takes no lock.
std::mutex g_mutex;
DefaultActionHandlers g_handlers(SIGNALS, remove_and_end);

}  // namespace

Status arm_termination_cleanup(std::string_view file, std::string_view dir) {
  if (file.size() >= PATH_MAX || dir.size() >= PATH_MAX) return fail("path too long to remove on a signal");
  std::lock_guard lock(g_mutex);
  g_armed.store(false);
  std::memcpy(g_file, file.data(), file.size());
  g_file[file.size()] = '\0';
  std::memcpy(g_dir, dir.data(), dir.size());
  g_dir[dir.size()] = '\0';
  g_armed.store(true);
  g_handlers.install();
  return {};
}

TerminationSignalsHeld::TerminationSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal_number : SIGNALS) sigaddset(&held, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TerminationSignalsHeld::~TerminationSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void disarm_termination_cleanup() {
  std::lock_guard lock(g_mutex);
  g_armed.store(false);
  g_handlers.restore();
}

void run_termination_cleanup_now() {
  std::lock_guard lock(g_mutex);
  remove_armed_paths();
  g_handlers.restore();
}

}  // namespace kiv
