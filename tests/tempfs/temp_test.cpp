#include "tempfs/temp.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "test_support.hpp"

namespace kiv {
namespace {

using testing::ScopedTempDir;

class TempTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_.path()};
};

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST_F(TempTest, FileIsExclusive0600AndRemovedUnlessKept) {
  std::string path;
  {
    auto file = TempFile::create();
    ASSERT_TRUE(file) << file.error().display();
    path = file->path();
    EXPECT_TRUE(std::regex_match(path, std::regex(dir_.path() + "/\\.tmp[A-Za-z0-9]{6}")));
    struct stat st;
    ASSERT_EQ(::fstat(file->fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(::write(file->fd(), "x", 1), 1);
  }
  EXPECT_FALSE(exists(path));

  auto kept = TempFile::create();
  ASSERT_TRUE(kept);
  path = kept->path();
  UniqueFd fd = kept->keep();
  EXPECT_TRUE(fd);
  kept = TempFile::create();  // the kept one is not removed by reassignment
  EXPECT_TRUE(exists(path));
}

TEST_F(TempTest, DirectoryIsRemovedWithContentsUnlessKept) {
  std::string path;
  {
    auto dir = TempDir::create();
    ASSERT_TRUE(dir);
    path = dir->path();
    testing::write_file(path + "/inner", "data");
    EXPECT_TRUE(exists(path + "/inner"));
  }
  EXPECT_FALSE(exists(path));

  auto dir = TempDir::create();
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->keep(), dir->path());
  path = dir->path();
  { TempDir moved = std::move(*dir); }
  EXPECT_TRUE(exists(path));
}

TEST_F(TempTest, DirectoryModeFollowsTheUmaskUnlessOwnerOnly) {
  struct Case {
    mode_t umask;
    mode_t umask_mode;  // DirAccess::Umask
  };
  // OwnerOnly is 0700 whatever the umask, even one that takes the owner's bits.
  for (const Case c : {Case{0, 0777}, Case{022, 0755}, Case{077, 0700}, Case{0700, 0077}}) {
    SCOPED_TRACE(c.umask);
    const mode_t saved = ::umask(c.umask);
    auto plain = TempDir::create(DirAccess::Umask);
    auto private_dir = TempDir::create(DirAccess::OwnerOnly);
    ::umask(saved);
    ASSERT_TRUE(plain && private_dir);
    struct stat st;
    ASSERT_EQ(::stat(plain->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.umask_mode);
    ASSERT_EQ(::stat(private_dir->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
  }
}

TEST_F(TempTest, RelativeAndEmptyTmpdirAreTakenFromTheWorkingDirectory) {
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  ::mkdir("rel", 0755);
  tmpdir_.set("rel");
  EXPECT_EQ(temp_base_dir().value(), dir_.path() + "/rel");
  tmpdir_.set("");
  EXPECT_EQ(temp_base_dir().value(), dir_.path());
  tmpdir_.set(std::nullopt);
  EXPECT_EQ(temp_base_dir().value(), "/tmp");
  ASSERT_EQ(::chdir(cwd), 0);
  std::free(cwd);
}

TEST_F(TempTest, MissingBaseReportsThePathTried) {
  tmpdir_.set(dir_.path() + "/missing");
  auto file = TempFile::create();
  ASSERT_FALSE(file);
  EXPECT_TRUE(std::regex_match(file.error().display(),
                               std::regex("No such file or directory \\(os error 2\\) at path \"" + dir_.path() +
                                          "/missing/\\.tmp[A-Za-z0-9]{6}\"")))
      << file.error().display();
  auto dir = TempDir::create();
  ASSERT_FALSE(dir);
  EXPECT_NE(dir.error().display().find(" at path \""), std::string::npos);
}

}  // namespace
}  // namespace kiv
