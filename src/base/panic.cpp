#include "base/panic.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/io.hpp"

namespace kiv {

void panic(std::string_view message) {
  std::fflush(stdout);
  std::string line(message);
  line += '\n';
  (void)write_all(STDERR_FILENO, line);
  _exit(101);
}

}  // namespace kiv
