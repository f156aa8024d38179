#include "base/spawn.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace kiv {
namespace {

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  Status configure(const SpawnOptions& options) {
    if (!ok_) return fail_os(ENOMEM);
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (options.new_session) flags |= POSIX_SPAWN_SETSID;
    if (int err = ::posix_spawnattr_setsigdefault(&attr_, &defaults)) return fail_os(err);
    if (int err = ::posix_spawnattr_setflags(&attr_, flags)) return fail_os(err);
    return {};
  }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_ = false;
};

class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  Status configure(const SpawnOptions& options) {
    if (!ok_) return fail_os(ENOMEM);
    if (options.close_standard_streams) {
      for (int fd = 0; fd <= 2; ++fd) {
        if (int err = ::posix_spawn_file_actions_addclose(&actions_, fd)) return fail_os(err);
      }
    }
    return {};
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

CStringArray::CStringArray(std::vector<std::string> strings) : owned_(std::move(strings)) {
  pointers_.reserve(owned_.size() + 1);
  for (auto& s : owned_) pointers_.push_back(s.data());
  pointers_.push_back(nullptr);
}

Result<pid_t> spawn_process(const CStringArray& argv, char* const* envp, const SpawnOptions& options) {
  SpawnAttributes attributes;
  KIV_TRY(attributes.configure(options));
  SpawnFileActions actions;
  KIV_TRY(actions.configure(options));
  const char* program = argv.get()[0];
  pid_t pid = -1;
  int err = std::strchr(program, '/') != nullptr
                ? ::posix_spawn(&pid, program, actions.get(), attributes.get(), argv.get(), envp)
                : ::posix_spawnp(&pid, program, actions.get(), attributes.get(), argv.get(), envp);
  if (err != 0) return fail_os(err);
  return pid;
}

Result<int> wait_for_process(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail_last_os();
  }
  return status;
}

}  // namespace kiv
