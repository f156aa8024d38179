// Writes N bytes to standard output as fast as a plain write loop can, so
// that what reads the pipe, not what fills it, sets the pace.
//
//   build/bench/pipe_source N
//
// (head -c from /dev/zero moves about half as fast here and would hide the
// difference between two readers.) Exits with 1 when a write fails, 2 on a
// bad argument.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  char* end = nullptr;
  if (argc != 2 || (errno = 0, std::strtoull(argv[1], &end, 10), errno != 0 || *end != '\0' || end == argv[1])) {
    std::fputs("usage: pipe_source BYTES\n", stderr);
    return 2;
  }
  unsigned long long left = std::strtoull(argv[1], nullptr, 10);
  std::vector<char> block(1 << 20, 'k');
  while (left > 0) {
    size_t want = left < block.size() ? static_cast<size_t>(left) : block.size();
    ssize_t n = ::write(STDOUT_FILENO, block.data(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("pipe_source: write");
      return 1;
    }
    left -= static_cast<unsigned long long>(n);
  }
  return 0;
}
