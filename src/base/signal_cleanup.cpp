#include "base/signal_cleanup.hpp"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace kiv {
namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];

// Written only while g_armed is false, read by the handler only after it has
// taken g_armed from true to false.
char g_file[PATH_MAX];
char g_dir[PATH_MAX];
std::atomic<bool> g_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads it");

// Arming and disarming, from any thread; the handler takes no lock.
std::mutex g_mutex;
struct sigaction g_previous[SIGNAL_COUNT];
bool g_installed[SIGNAL_COUNT] = {};

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

void restore_actions() {
  for (std::size_t i = 0; i < SIGNAL_COUNT; ++i) {
    if (g_installed[i]) ::sigaction(SIGNALS[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
}

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
  for (std::size_t i = 0; i < SIGNAL_COUNT; ++i) {
    if (g_installed[i]) continue;
    struct sigaction current {};
    if (::sigaction(SIGNALS[i], nullptr, &current) != 0) continue;
    // Ignored (as under nohup) or handled by someone else: left as it is.
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    sigemptyset(&action.sa_mask);
    for (int other : SIGNALS) sigaddset(&action.sa_mask, other);
    if (::sigaction(SIGNALS[i], &action, &g_previous[i]) == 0) g_installed[i] = true;
  }
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
  restore_actions();
}

void run_termination_cleanup_now() {
  std::lock_guard lock(g_mutex);
  remove_armed_paths();
  restore_actions();
}

void reraise_with_default_action(int signal_number) {
  const int saved_errno = errno;
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

}  // namespace kiv
