// Changes the working directory for one test and restores it afterwards,
// also when the directory entered has since been removed.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace kiv::testing {

class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir) : saved_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (saved_ < 0 || ::chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
  }
  ~ScopedChdir() {
    if (saved_ < 0) return;
    if (::fchdir(saved_) != 0) ADD_FAILURE() << "cannot restore the working directory";
    ::close(saved_);
  }
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  int saved_;
};

}  // namespace kiv::testing
