#include "base/io.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kiv {

Status write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_last_os();
    }
    if (n == 0) return fail("failed to write whole buffer");
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Status read_to_end(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_last_os();
    }
    if (n == 0) return {};
    out.append(buffer, static_cast<size_t>(n));
  }
}

void exit_process(int status) {
  std::fflush(stdout);
  _exit(status);
}

}  // namespace kiv
