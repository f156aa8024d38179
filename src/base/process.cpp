#include "base/process.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

namespace kiv {

CStrings::CStrings(std::vector<std::string> strings) : owned(std::move(strings)) {
  for (auto& s : owned) pointers.push_back(s.data());
  pointers.push_back(nullptr);
}

SpawnAttributes::SpawnAttributes() {
  ::posix_spawnattr_init(&attr_);
  sigset_t defaults;
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attr_, &defaults);
  ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF);
}

SpawnAttributes::~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }

SpawnFileActions::SpawnFileActions() { ::posix_spawn_file_actions_init(&actions_); }

SpawnFileActions::~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }

int ChildProcess::wait() {
  if (pid_ < 0) return status_;
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(pid_, &status, 0);
  } while (got < 0 && errno == EINTR);
  pid_ = -1;
  status_ = got < 0 ? -1 : status;
  return status_;
}

}  // namespace kiv
