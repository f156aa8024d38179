#include "base/error.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

TEST(WriteAll, WriteThatTakesNothingIsAnError) {
  // /dev/full takes nothing: ENOSPC, an OS error.
  int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  Status status = write_all(fd, "abc");
  ::close(fd);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().os_code(), ENOSPC);
}

}  // namespace
}  // namespace kiv
