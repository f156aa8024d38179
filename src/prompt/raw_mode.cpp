#include "prompt/raw_mode.hpp"

#include <cerrno>
#include <utility>

#include "base/eintr.hpp"
#include "prompt/terminal_restore.hpp"

namespace kiv {
namespace {

// 0, or the error number of the failure.
int set_mode(int fd, const termios& mode) {
  return retry_on_eintr([&] { return ::tcsetattr(fd, TCSADRAIN, &mode); }) == 0 ? 0 : errno;
}

}  // namespace

Result<RawMode> RawMode::enter(int fd) {
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) return fail_last_os();
  termios raw = saved;
  ::cfmakeraw(&raw);
  // Drawing goes on between keys with the terminal's own output processing
  // (LF shown as CR LF); raw input must not change that.
  raw.c_oflag = saved.c_oflag;
  remember_raw_mode(fd, saved);
  if (int err = set_mode(fd, raw); err != 0) {
    forget_raw_mode();
    return fail_os(err);
  }
  return RawMode(fd, saved);
}

Status RawMode::restore() {
  if (fd_ < 0) return {};
  int fd = std::exchange(fd_, -1);
  int err = set_mode(fd, saved_);
  // Forgotten only after the attempt, so that a signal arriving meanwhile
  // still restores.
  forget_raw_mode();
  if (err != 0) return fail_os(err);
  return {};
}

RawMode::~RawMode() { (void)restore(); }

RawMode::RawMode(RawMode&& other) noexcept : fd_(std::exchange(other.fd_, -1)), saved_(other.saved_) {}

}  // namespace kiv
