#include "base/process.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "base/eintr.hpp"

extern char** environ;

namespace kiv {
namespace {

// posix_spawn attributes, destroyed with their owner.
class SpawnAttributes {
 public:
  SpawnAttributes() : init_error_(::posix_spawnattr_init(&attr_)) {}
  ~SpawnAttributes() {
    if (init_error_ == 0) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  Status configure(const SpawnOptions& options) {
    if (init_error_ != 0) return fail_os(init_error_);
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    for (int signal : options.default_signals) ::sigaddset(&defaults, signal);
    // The calling thread's mask would otherwise pass on: a kiv started with
    // SIGINT and SIGTERM blocked would start an editor that neither stops.
    sigset_t none;
    ::sigemptyset(&none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.new_session) flags |= POSIX_SPAWN_SETSID;
    if (int err = ::posix_spawnattr_setsigdefault(&attr_, &defaults)) return fail_os(err);
    if (int err = ::posix_spawnattr_setsigmask(&attr_, &none)) return fail_os(err);
    if (int err = ::posix_spawnattr_setflags(&attr_, flags)) return fail_os(err);
    return {};
  }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  int init_error_;
};

Status checked(int err) {
  if (err != 0) return fail_os(err);
  return {};
}

}  // namespace

std::vector<std::string> environment_with(std::string_view name, std::string_view value) {
  const std::string setting = std::string(name) + "=" + std::string(value);
  const std::string_view prefix(setting.data(), name.size() + 1);
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(prefix)) env.emplace_back(*entry);
  }
  env.push_back(setting);
  return env;
}

CStrings::CStrings(std::vector<std::string> strings) : owned(std::move(strings)) {
  pointers.reserve(owned.size() + 1);
  for (auto& s : owned) pointers.push_back(s.data());
  pointers.push_back(nullptr);
}

SpawnFileActions::SpawnFileActions() : init_error_(::posix_spawn_file_actions_init(&actions_)) {}

SpawnFileActions::~SpawnFileActions() {
  if (init_error_ == 0) ::posix_spawn_file_actions_destroy(&actions_);
}

Status SpawnFileActions::add_open(int fd, const char* path, int flags) {
  KIV_TRY(checked(init_error_));
  return checked(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0));
}

Status SpawnFileActions::add_dup2(int from, int to) {
  KIV_TRY(checked(init_error_));
  return checked(::posix_spawn_file_actions_adddup2(&actions_, from, to));
}

Status SpawnFileActions::add_close(int fd) {
  KIV_TRY(checked(init_error_));
  return checked(::posix_spawn_file_actions_addclose(&actions_, fd));
}

Result<pid_t> spawn_process(const CStrings& argv, char* const* envp, const SpawnOptions& options) {
  SpawnAttributes attributes;
  KIV_TRY(attributes.configure(options));
  const posix_spawn_file_actions_t* actions = options.file_actions ? options.file_actions->get() : nullptr;
  const char* program = argv.get()[0];
  pid_t pid = -1;
  int err = std::strchr(program, '/') != nullptr
                ? ::posix_spawn(&pid, program, actions, attributes.get(), argv.get(), envp)
                : ::posix_spawnp(&pid, program, actions, attributes.get(), argv.get(), envp);
  if (err != 0) return fail_os(err);
  return pid;
}

int exec_in_place(const char* path, const CStrings& argv) {
  sigset_t none, old_mask;
  ::sigemptyset(&none);
  ::pthread_sigmask(SIG_SETMASK, &none, &old_mask);
  struct sigaction old_sigpipe {};
  ::sigaction(SIGPIPE, nullptr, &old_sigpipe);
  ::signal(SIGPIPE, SIG_DFL);
  ::execv(path, argv.get());
  const int err = errno;
  ::sigaction(SIGPIPE, &old_sigpipe, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return err;
}

Result<int> wait_for_process(pid_t pid) {
  int status = 0;
  if (retry_on_eintr([&] { return ::waitpid(pid, &status, 0); }) < 0) return fail_last_os();
  return status;
}

int ChildProcess::wait() {
  if (pid_ < 0) return status_;
  auto status = wait_for_process(pid_);
  pid_ = -1;
  status_ = status ? *status : -1;
  return status_;
}

}  // namespace kiv
