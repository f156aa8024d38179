#include "base/copy.hpp"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/eintr.hpp"
#include "base/io.hpp"

namespace kiv {
namespace {

constexpr size_t kChunk = 1 << 20;

// What an in-kernel copy attempt came to.
enum class Kernel { Done, Unsupported };

bool unsupported(int err) { return err == EINVAL || err == ENOSYS || err == EXDEV || err == EOPNOTSUPP; }

// Runs one in-kernel copy primitive until end of input. `step` returns what
// the syscall returned. Falls back (Unsupported) only when the primitive is
// refused before any byte moved, so nothing is copied twice.
template <class Step>
Result<Kernel> kernel_copy(Step step, std::uint64_t& copied) {
  bool moved_any = false;
  for (;;) {
    ssize_t n = retry_on_eintr(step);
    if (n > 0) {
      copied += static_cast<std::uint64_t>(n);
      moved_any = true;
      continue;
    }
    if (n == 0) return Kernel::Done;
    if (!moved_any && unsupported(errno)) return Kernel::Unsupported;
    return fail_last_os();
  }
}

Status read_write_copy(int from, int to, std::uint64_t& copied) {
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (;;) {
    ssize_t n = retry_on_eintr([&] { return ::read(from, buffer.get(), kChunk); });
    if (n < 0) return fail_last_os();
    if (n == 0) return {};
    KIV_TRY(write_all(to, std::string_view(buffer.get(), static_cast<size_t>(n))));
    copied += static_cast<std::uint64_t>(n);
  }
}

}  // namespace

Result<std::uint64_t> copy_all(int from, int to) {
  std::uint64_t copied = 0;
  struct stat in, out;
  bool stat_ok = ::fstat(from, &in) == 0 && ::fstat(to, &out) == 0;
  if (stat_ok && S_ISFIFO(in.st_mode) && !S_ISREG(out.st_mode)) {
    // A pipe moves into a pipe or socket by splice without passing through
    // user space. Into a regular file it does not: splice holds the pipe
    // while it copies into the page cache, so the writer cannot refill it
    // meanwhile, and the read/write loop below is about 1.5x faster.
    KIV_TRY_ASSIGN(Kernel k, kernel_copy([&] { return ::splice(from, nullptr, to, nullptr, kChunk, SPLICE_F_MOVE); },
                                         copied));
    if (k == Kernel::Done) return copied;
  } else if (stat_ok && S_ISREG(in.st_mode)) {
    if (S_ISREG(out.st_mode)) {
      KIV_TRY_ASSIGN(Kernel k, kernel_copy([&] { return ::copy_file_range(from, nullptr, to, nullptr, kChunk, 0); },
                                           copied));
      if (k == Kernel::Done) return copied;
    }
    KIV_TRY_ASSIGN(Kernel k, kernel_copy([&] { return ::sendfile(to, from, nullptr, kChunk); }, copied));
    if (k == Kernel::Done) return copied;
  }
  KIV_TRY(read_write_copy(from, to, copied));
  return copied;
}

}  // namespace kiv
