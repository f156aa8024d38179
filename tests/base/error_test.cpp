#include "base/error.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "base/io.hpp"
#include "base/text.hpp"

namespace kiv {
namespace {

Result<int> inner_failure() { return fail_os(ENOENT); }

Result<int> middle() {
  KIV_TRY_ASSIGN(int value, with_context(inner_failure(), "reading the thing"));
  return value + 1;
}

Status outer() {
  KIV_TRY(with_context(middle(), "Bundle detection"));
  return {};
}

TEST(Error, DisplaysChainOutermostFirst) {
  Status status = outer();
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().display(), "Bundle detection: reading the thing: No such file or directory (os error 2)");
  EXPECT_EQ(status.error().root_message(), "No such file or directory (os error 2)");
  EXPECT_EQ(status.error().os_code(), ENOENT);
}

TEST(Error, KeepsNewlinesOfAMessage) {
  Error error("line one\nline two\nline three");
  EXPECT_EQ(error.display(), "line one\nline two\nline three");
  error.add_context("outer");
  EXPECT_EQ(error.display(), "outer: line one\nline two\nline three");
}

TEST(Error, OsErrorText) {
  EXPECT_EQ(Error::os(EACCES).display(), "Permission denied (os error 13)");
  EXPECT_EQ(Error::os(EEXIST).display(), "File exists (os error 17)");
  EXPECT_FALSE(Error("plain").os_code());
}

TEST(Error, EmptyContextStillSeparated) {
  Error error("inner");
  error.add_context("");
  EXPECT_EQ(error.display(), ": inner");
}

TEST(WriteAll, FailedWriteIsTheOsError) {
  // /dev/full takes nothing: ENOSPC, an OS error.
  int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  Status status = write_all(fd, "abc");
  ::close(fd);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().os_code(), ENOSPC);
}

// The filter below checks the architecture of the system call; it is
// written for the two this project builds on.
#if defined(__x86_64__) || defined(__aarch64__)
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#else
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#endif

// From here on, write and writev on `fd` return 0 without doing anything:
// a seccomp filter answering them with "error 0", which is a return value
// of 0. No descriptor the kernel offers reports a write that took nothing.
bool make_writes_take_nothing(int fd) {
  const auto fd_word = static_cast<std::uint32_t>(fd);
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_writev, 0, 3),
      // The descriptor's low word (the arguments are little-endian here).
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fd_word, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST(WriteAll, WriteThatTakesNothingIsAnError) {
  // The filter stays for the rest of a process's life: it is set in a child
  // started afresh for this test alone, which writes what both forms report.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        int fd = ::open("/dev/null", O_WRONLY);
        if (fd < 0 || !make_writes_take_nothing(fd)) _exit(2);
        Status one = write_all(fd, "abc");
        Status two = write_all(fd, "abc", "def");
        std::fprintf(stderr, "[%s] [%s]\n", one ? "written" : one.error().display().c_str(),
                     two ? "written" : two.error().display().c_str());
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "^\\[failed to write whole buffer\\] \\[failed to write whole buffer\\]\n$");
}
#endif

}  // namespace
}  // namespace kiv
