#include "base/io.hpp"

#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>

#include "base/eintr.hpp"

namespace kiv {

Status write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = retry_on_eintr([&] { return ::write(fd, data.data(), data.size()); });
    if (n < 0) return fail_last_os();
    if (n == 0) return fail("failed to write whole buffer");
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Status write_all(int fd, std::string_view first, std::string_view second) {
  while (!first.empty()) {
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                      {const_cast<char*>(second.data()), second.size()}};
    ssize_t n = retry_on_eintr([&] { return ::writev(fd, parts, second.empty() ? 1 : 2); });
    if (n < 0) return fail_last_os();
    if (n == 0) return fail("failed to write whole buffer");
    const auto written = static_cast<size_t>(n);
    if (written < first.size()) {
      first.remove_prefix(written);
    } else {
      second.remove_prefix(written - first.size());
      first = {};
    }
  }
  return write_all(fd, second);
}

Status read_to_end(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = retry_on_eintr([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n < 0) return fail_last_os();
    if (n == 0) return {};
    out.append(buffer, static_cast<size_t>(n));
  }
}

void exit_process(int status) {
  std::fflush(stdout);
  _exit(status);
}

}  // namespace kiv
