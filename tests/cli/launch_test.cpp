#include "cli/launch.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/unique_fd.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

// An editor that writes what it was given to record.txt beside itself.
std::string fake_editor(const testing::ScopedTempDir& dir, const std::string& extra = "") {
  std::string path = dir.sub("editor");
  testing::write_file(path, "#!/bin/sh\n"
                            "for fd in 0 1 2; do [ -e /proc/$$/fd/$fd ] && open=\"$open fd$fd:open\"; done\n"
                            "out=\"$(dirname \"$0\")/record.txt\"\n"
                            "{ for a in \"$@\"; do echo \"arg:$a\"; done\n"
                            "  echo \"force:${KIV_FORCE_CLI_MODE-unset}\"\n"
                            "  echo \"sid:$(cut -d' ' -f6 /proc/$$/stat) pid:$$\"\n"
                            "  echo \"open:$open\"\n"
                            "} > \"$out.tmp\" 2>/dev/null; mv \"$out.tmp\" \"$out\"\n" +
                                extra);
  ::chmod(path.c_str(), 0755);
  return path;
}

// A datagram socket bound at `path`, or an empty handle.
UniqueFd bind_datagram(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  ::memcpy(a.sun_path, path.data(), path.size());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return UniqueFd();
  return fd;
}

std::string wait_for_file(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return testing::read_file(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "<timed out>";
}

TEST(EditorArgv, UrlThenUserDataDirAsTyped) {
  EXPECT_EQ(editor_argv("/e", "kiv-cli:///t/socket", std::nullopt),
            (std::vector<std::string>{"/e", "kiv-cli:///t/socket"}));
  EXPECT_EQ(editor_argv("/e", "u", std::string("rel/dir")),
            (std::vector<std::string>{"/e", "u", "--user-data-dir", "rel/dir"}));
  EXPECT_EQ(hand_over_socket_path(std::string("rel/dir")).value(), "rel/dir/kiv-stable.sock");
  EXPECT_EQ(hand_over_socket_path(std::string("/d/")).value(), "/d/kiv-stable.sock");
}

TEST(SendUrlOrSpawnApp, NoEditorListeningStartsADetachedOne) {
  testing::ScopedTempDir dir;
  std::string editor = fake_editor(dir);
  // A stale socket file nobody receives on counts as no editor.
  ASSERT_TRUE(bind_datagram(dir.sub("kiv-stable.sock")));
  ASSERT_TRUE(send_url_or_spawn_app(editor, "kiv-cli:///x/socket", dir.path()));
  std::string record = wait_for_file(dir.sub("record.txt"));
  EXPECT_NE(record.find("arg:kiv-cli:///x/socket\narg:--user-data-dir\narg:" + dir.path() + "\n"), std::string::npos)
      << record;
  EXPECT_NE(record.find("force:\n"), std::string::npos) << record;
  EXPECT_EQ(record.find("fd0:open"), std::string::npos) << record;
  EXPECT_EQ(record.find("fd2:open"), std::string::npos) << record;
  // A session of its own: its session id is its own pid.
  auto sid = record.substr(record.find("sid:") + 4);
  EXPECT_EQ(sid.substr(0, sid.find(' ')), sid.substr(sid.find("pid:") + 4, sid.find('\n') - sid.find("pid:") - 4));
  EXPECT_EQ(::getenv("KIV_FORCE_CLI_MODE"), nullptr);  // only the child has it
}

TEST(SendUrlOrSpawnApp, RunningEditorGetsExactlyOneDatagram) {
  // Editors that earlier tests in this process started end on their own.
  while (::waitpid(-1, nullptr, 0) > 0) {
  }
  testing::ScopedTempDir dir;
  std::string editor = fake_editor(dir);
  UniqueFd listener = bind_datagram(dir.sub("kiv-stable.sock"));
  ASSERT_TRUE(listener);
  ASSERT_TRUE(send_url_or_spawn_app(editor, "kiv-cli:///y/socket", dir.path()));
  char buffer[256];
  ssize_t n = ::recv(listener.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "kiv-cli:///y/socket");
  EXPECT_LT(::recv(listener.get(), buffer, sizeof buffer, MSG_DONTWAIT), 0);
  // A started editor would be a child of this test process (nobody waits
  // for it): there must be none at all.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "no editor may be started";
}

TEST(SendUrlOrSpawnApp, AnEditorThatCannotBeExecutedIsTheError) {
  testing::ScopedTempDir dir;
  struct Case {
    std::string name, content;
    mode_t mode;
    std::string expected;
  };
  const Case cases[] = {
      {"garbage", "\x7F\x01not a program\n", 0755, "Exec format error"},
      {"not-executable", "#!/bin/sh\n", 0644, "Permission denied"},
      {"bad-interpreter", "#!/nonexistent/sh\n", 0755, "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.sub(c.name);
    testing::write_file(path, c.content);
    ::chmod(path.c_str(), c.mode);
    auto result = send_url_or_spawn_app(path, "u", dir.path());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().display(), "failed to exec \"" + path + "\": couldn't exec process: " + c.expected);
  }
}

TEST(SendUrlOrSpawnApp, SocketPathTooLongForAnAddressStartsAnEditor) {
  testing::ScopedTempDir dir;
  std::string editor = fake_editor(dir);
  std::string long_dir = dir.path() + "/" + std::string(108, 'd');
  ASSERT_TRUE(send_url_or_spawn_app(editor, "u", long_dir));
  EXPECT_NE(wait_for_file(dir.sub("record.txt")).find("arg:" + long_dir), std::string::npos);
}

TEST(RunAppForeground, WaitsAndReturnsTheStatusOrTheStartError) {
  testing::ScopedTempDir dir;
  std::string editor = fake_editor(dir, "exit 3\n");
  auto status = run_app_foreground(editor, "u", std::nullopt);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 3);
  EXPECT_NE(testing::read_file(dir.sub("record.txt")).find("force:unset"), std::string::npos);

  testing::write_file(dir.sub("not-executable"), "#!/bin/sh\n");
  auto failed = run_app_foreground(dir.sub("not-executable"), "u", std::nullopt);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), "Permission denied (os error 13)");
}

}  // namespace
}  // namespace kiv
