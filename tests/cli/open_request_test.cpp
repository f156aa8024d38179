#include "cli/open_request.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "../util/scoped_chdir.hpp"
#include "test_support.hpp"
#include "util/path_with_position.hpp"

extern char** environ;

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::string proc_fd(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool fd_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

ino_t inode_of_fd(int fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  return st.st_ino;
}

ino_t inode_of_path(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_ino;
}

// Each test gets its own TMPDIR, so everything the assembly leaves in the
// temporary directory can be counted: the one-shot server's directory (it
// holds "socket"), kept temporary files and kept placeholder directories.
class OpenRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tmp());
    fs::create_directories(work());
    work_ = fs::canonical(work()).string();
  }

  std::string tmp() const { return dir_.sub("tmp"); }
  std::string work() const { return dir_.sub("work"); }
  /// The canonical working directory of the tests that enter work().
  const std::string& cwd() const { return work_; }
  std::string at(const std::string& relative) const { return dir_.sub("work/" + relative); }
  void file(const std::string& relative, const std::string& content = "x") {
    fs::create_directories(fs::path(at(relative)).parent_path());
    testing::write_file(at(relative), content);
  }

  Result<OpenRequest> assemble(const ArgsKind& args, bool stdout_is_terminal = false) {
    return assemble_open_request(args, stdout_is_terminal);
  }
  OpenRequest assemble_ok(const ArgsKind& args, bool stdout_is_terminal = false) {
    auto request = assemble(args, stdout_is_terminal);
    if (!request) {
      // Nothing of the test can go on without the request.
      std::fprintf(stderr, "assembly failed: %s\n", request.error().display().c_str());
      std::abort();
    }
    return std::move(*request);
  }

  struct TmpContent {
    size_t server_dirs = 0;
    std::vector<std::string> files;  // kept temporary files
    std::vector<std::string> dirs;   // other directories: kept placeholders
  };
  TmpContent tmp_content() const {
    TmpContent content;
    for (const auto& entry : fs::directory_iterator(tmp())) {
      if (entry.is_regular_file())
        content.files.push_back(entry.path().string());
      else if (fs::exists(entry.path() / "socket"))
        ++content.server_dirs;
      else
        content.dirs.push_back(entry.path().string());
    }
    return content;
  }
  bool is_kept_temp_file(const std::string& path) const {
    std::string name = fs::path(path).filename().string();
    return fs::path(path).parent_path() == fs::path(tmp()) && name.size() == 10 && name.starts_with(".tmp") &&
           fs::is_regular_file(path);
  }

  testing::ScopedTempDir dir_;
  std::string work_;
  testing::ScopedEnv tmpdir_{"TMPDIR", tmp()};
};

TEST_F(OpenRequestTest, NothingGivenMakesOnlyTheServer) {
  ArgsKind args;
  args.wait = true;
  args.debug_state = true;
  args.dev_container = true;
  args.user_data_dir = "rel/data";
  {
    OpenRequest request = assemble_ok(args);
    const CliReceiverContext& context = request.context;
    const std::string& name = context.one_shot_server.name();
    EXPECT_EQ(fs::path(name).parent_path().parent_path(), fs::path(tmp())) << name;
    EXPECT_EQ(request.url, "kiv-cli://" + name);
    EXPECT_TRUE(request.url.starts_with("kiv-cli:///"));
    EXPECT_EQ(context.open_behavior, ipc::OpenBehavior::Default);
    EXPECT_FALSE(context.env);
    EXPECT_FALSE(context.diff_has_directory);
    EXPECT_TRUE(context.paths.empty());
    EXPECT_TRUE(context.urls.empty());
    EXPECT_TRUE(context.diff_paths.empty());
    EXPECT_FALSE(request.stdin_target);
    EXPECT_TRUE(request.relay_pairs.empty());
    ASSERT_TRUE(context.exit_status_slot);
    EXPECT_FALSE(context.exit_status_slot->take());
    // Handed on exactly as given.
    EXPECT_TRUE(context.wait);
    EXPECT_TRUE(context.debug_state);
    EXPECT_TRUE(context.dev_container);
    EXPECT_EQ(context.user_data_dir, "rel/data");
    EXPECT_EQ(tmp_content().server_dirs, 1u);
  }
  TmpContent left = tmp_content();
  EXPECT_EQ(left.server_dirs, 0u);
  EXPECT_TRUE(left.files.empty());
  EXPECT_TRUE(left.dirs.empty());
}

TEST_F(OpenRequestTest, OpenBehaviourFromTheFlag) {
  struct Case {
    bool ArgsKind::* flag;
    ipc::OpenBehavior behavior;
    int code;
  };
  const Case cases[] = {
      {nullptr, ipc::OpenBehavior::Default, 0},        {&ArgsKind::new_, ipc::OpenBehavior::New, 1},
      {&ArgsKind::add, ipc::OpenBehavior::Add, 3},      {&ArgsKind::existing, ipc::OpenBehavior::Existing, 4},
      {&ArgsKind::classic, ipc::OpenBehavior::Classic, 5}, {&ArgsKind::reuse, ipc::OpenBehavior::Reuse, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ArgsKind args;
    if (c.flag) args.*c.flag = true;
    OpenRequest request = assemble_ok(args);
    EXPECT_EQ(request.context.open_behavior, c.behavior);
    EXPECT_EQ(static_cast<int>(request.context.open_behavior), c.code);
  }
}

TEST_F(OpenRequestTest, EnvironmentOnlyWhenStdoutIsATerminal) {
  testing::ScopedEnv text("KIV_TEST_ASSEMBLY", "a=b c");
  testing::ScopedEnv empty("KIV_TEST_ASSEMBLY_EMPTY", "");
  testing::ScopedEnv bytes("KIV_TEST_ASSEMBLY_BYTES", "\xC3(");
  EXPECT_FALSE(assemble_ok(ArgsKind{}, false).context.env);

  OpenRequest request = assemble_ok(ArgsKind{}, true);
  ASSERT_TRUE(request.context.env);
  std::map<std::string, std::string> env(request.context.env->begin(), request.context.env->end());
  EXPECT_EQ(env.size(), request.context.env->size()) << "a name listed twice";
  EXPECT_EQ(env["KIV_TEST_ASSEMBLY"], "a=b c");
  EXPECT_EQ(env.count("KIV_TEST_ASSEMBLY_EMPTY"), 1u);
  EXPECT_EQ(env.count("KIV_TEST_ASSEMBLY_BYTES"), 0u);
  // Every text variable of the process, with its value as it stands now.
  size_t text_variables = 0;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string item = *entry;
    if (item.find('=') == std::string::npos || item.starts_with("KIV_TEST_ASSEMBLY_BYTES=")) continue;
    ++text_variables;
    std::string name = item.substr(0, item.find('='));
    EXPECT_EQ(env[name], item.substr(name.size() + 1)) << name;
  }
  EXPECT_EQ(env.size(), text_variables);
}

TEST_F(OpenRequestTest, DiffErrorsInTheirOrder) {
  file("present.txt");
  testing::ScopedChdir in(work());
  struct Case {
    const char* old_side;
    const char* new_side;
    std::string error;
  };
  const Case cases[] = {
      // A relative side is reported as the absolute path it was parsed to.
      {"missing.txt", "present.txt", "--diff path does not exist: " + cwd() + "/missing.txt"},
      {"present.txt", "gone/new.rs:3:4", "--diff path does not exist: " + cwd() + "/gone/new.rs:3:4"},
      // Both missing: the old side first.
      {"old-gone", "new-gone", "--diff path does not exist: " + cwd() + "/old-gone"},
      // Both sides are parsed before either is tested.
      {"missing.txt", "nothing/..", "parsing as path with position nothing/.."},
      {"nothing/..:3", "missing.txt", "parsing as path with position nothing/..:3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    ArgsKind args;
    args.diff = {"present.txt", "present.txt", c.old_side, c.new_side};
    // A diff error comes before any positional argument is looked at.
    args.paths_with_position = {"-"};
    args.dev_server_token = "token";
    auto request = assemble(args);
    ASSERT_FALSE(request);
    EXPECT_EQ(request.error().display(), c.error);
    TmpContent left = tmp_content();
    EXPECT_EQ(left.server_dirs, 0u);
    EXPECT_TRUE(left.files.empty());
  }
}

TEST_F(OpenRequestTest, DiffSidesWithPositionsAreTakenAsTheirFiles) {
  file("present.txt");
  fs::create_directories(at("dir"));
  testing::ScopedChdir in(work());
  ArgsKind args;
  args.diff = {"present.txt:3:4", "present.txt", "dir:2", "present.txt:7"};
  OpenRequest request = assemble_ok(args);
  // "dir:2" as typed names no directory, so no pair holds one.
  EXPECT_FALSE(request.context.diff_has_directory);
  using Pairs = std::vector<ipc::DiffPair>;
  EXPECT_EQ(request.context.diff_paths, (Pairs{{cwd() + "/present.txt:3:4", cwd() + "/present.txt"},
                                               {cwd() + "/dir:2", cwd() + "/present.txt:7"}}));
  EXPECT_TRUE(tmp_content().dirs.empty());
}

TEST_F(OpenRequestTest, DirectoryPairsAreExpandedAndTheirPlaceholdersKept) {
  file("old/a.txt");
  file("old/only_old.txt");
  file("new/a.txt");
  file("f.txt");
  ArgsKind args;
  args.diff = {at("f.txt"), at("f.txt"), at("old"), at("new")};
  std::string placeholder;
  {
    OpenRequest request = assemble_ok(args);
    const auto& context = request.context;
    EXPECT_TRUE(context.diff_has_directory);
    ASSERT_EQ(context.diff_paths.size(), 3u);
    EXPECT_EQ(context.diff_paths[0], (ipc::DiffPair{cwd() + "/f.txt", cwd() + "/f.txt"}));
    EXPECT_EQ(context.diff_paths[1], (ipc::DiffPair{cwd() + "/old/a.txt", cwd() + "/new/a.txt"}));
    EXPECT_EQ(context.diff_paths[2].old_path, cwd() + "/old/only_old.txt");
    placeholder = context.diff_paths[2].new_path;
  }
  // The request is gone, with its server; the placeholder stays.
  TmpContent left = tmp_content();
  EXPECT_EQ(left.server_dirs, 0u);
  ASSERT_EQ(left.dirs.size(), 1u);
  EXPECT_EQ(placeholder, left.dirs[0] + "/only_old.txt");
  EXPECT_TRUE(fs::is_regular_file(placeholder));
  EXPECT_EQ(fs::file_size(placeholder), 0u);
}

TEST_F(OpenRequestTest, DashAloneIsStandardInput) {
  file("f.txt");
  struct Case {
    const char* name;
    std::vector<std::string> diff;
    bool debug_state;
  };
  const Case cases[] = {
      {"plain", {}, false},
      {"with a diff pair", {at("f.txt"), at("f.txt")}, false},
      {"with --debug-state", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ArgsKind args;
    args.paths_with_position = {"-"};
    args.diff = c.diff;
    args.debug_state = c.debug_state;
    std::string kept;
    {
      OpenRequest request = assemble_ok(args);
      ASSERT_EQ(request.context.paths.size(), 1u);
      kept = request.context.paths[0];
      EXPECT_TRUE(is_kept_temp_file(kept)) << kept;
      EXPECT_EQ(fs::status(kept).permissions(), fs::perms::owner_read | fs::perms::owner_write);
      ASSERT_TRUE(request.stdin_target);
      EXPECT_EQ(inode_of_fd(request.stdin_target->get()), inode_of_path(kept));
      EXPECT_EQ(::write(request.stdin_target->get(), "in", 2), 2);
      EXPECT_TRUE(request.relay_pairs.empty());
      EXPECT_EQ(request.context.diff_paths.size(), c.diff.size() / 2);
    }
    EXPECT_EQ(testing::read_file(kept), "in");
    EXPECT_EQ(tmp_content().server_dirs, 0u);
    fs::remove(kept);
  }
}

TEST_F(OpenRequestTest, DashBesideOtherArgumentsIsAPath) {
  file("f.txt");
  testing::ScopedChdir in(work());
  struct Case {
    std::vector<std::string> positional;
    std::vector<std::string> paths;
    std::vector<std::string> urls;
  };
  const Case cases[] = {
      {{"-", "f.txt"}, {cwd() + "/-", cwd() + "/f.txt"}, {}},
      {{"ssh://host/p", "-"}, {cwd() + "/-"}, {"ssh://host/p"}},
      {{"-", "-"}, {cwd() + "/-", cwd() + "/-"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.positional[0] + " " + c.positional[1]);
    ArgsKind args;
    args.paths_with_position = c.positional;
    OpenRequest request = assemble_ok(args);
    EXPECT_EQ(request.context.paths, c.paths);
    EXPECT_EQ(request.context.urls, c.urls);
    EXPECT_FALSE(request.stdin_target);
    EXPECT_TRUE(tmp_content().files.empty());
  }
}

TEST_F(OpenRequestTest, UrlsAreKeptAsTypedAndOnlyExactPrefixesCount) {
  testing::ScopedChdir in(work());
  ArgsKind args;
  args.paths_with_position = {"https://example.org/a b?q=1#x", "HTTP://example.org", "kiv://settings",
                              "file:///nowhere/../x", "Ssh://host", "ssh://host/~/p:10"};
  OpenRequest request = assemble_ok(args);
  EXPECT_EQ(request.context.urls, (std::vector<std::string>{"https://example.org/a b?q=1#x", "kiv://settings",
                                                            "file:///nowhere/../x", "ssh://host/~/p:10"}));
  // The capitalised ones are resolved as paths under the working directory.
  ASSERT_EQ(request.context.paths.size(), 2u);
  EXPECT_EQ(request.context.paths[0], parse_path_with_position("HTTP://example.org").value());
  EXPECT_EQ(request.context.paths[1], parse_path_with_position("Ssh://host").value());
  for (const auto& path : request.context.paths) EXPECT_TRUE(path.starts_with(cwd() + "/")) << path;
}

TEST_F(OpenRequestTest, MemfdsGetKeptFilesAndRelayPairsInArgumentOrder) {
  file("f.txt");
  UniqueFd first(::memfd_create("first", MFD_CLOEXEC));
  UniqueFd second(::memfd_create("second", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  ASSERT_TRUE(first && second);
  ASSERT_EQ(::write(first.get(), "content", 7), 7);
  const int first_fd = first.get();
  const int second_fd = second.get();

  ArgsKind args;
  args.paths_with_position = {proc_fd(first_fd), at("f.txt"), "http://x", proc_fd(second_fd)};
  std::vector<std::string> paths;
  {
    OpenRequest request = assemble_ok(args);
    first.release();  // both are the request's now
    second.release();
    paths = request.context.paths;
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_TRUE(is_kept_temp_file(paths[0])) << paths[0];
    EXPECT_EQ(paths[1], cwd() + "/f.txt");
    EXPECT_TRUE(is_kept_temp_file(paths[2])) << paths[2];
    EXPECT_NE(paths[0], paths[2]);
    EXPECT_EQ(request.context.urls, std::vector<std::string>{"http://x"});
    EXPECT_FALSE(request.stdin_target);
    ASSERT_EQ(request.relay_pairs.size(), 2u);
    EXPECT_EQ(request.relay_pairs[0].source.get(), first_fd);
    EXPECT_EQ(inode_of_fd(request.relay_pairs[0].destination.get()), inode_of_path(paths[0]));
    EXPECT_EQ(request.relay_pairs[1].source.get(), second_fd);
    EXPECT_EQ(inode_of_fd(request.relay_pairs[1].destination.get()), inode_of_path(paths[2]));
    // Copying is the copy threads' work: the files are still empty.
    EXPECT_EQ(fs::file_size(paths[0]), 0u);
  }
  // Dropping the request closed the memory files; their files stay.
  EXPECT_FALSE(fd_open(first_fd));
  EXPECT_FALSE(fd_open(second_fd));
  EXPECT_TRUE(fs::is_regular_file(paths[0]));
  EXPECT_TRUE(fs::is_regular_file(paths[2]));
  EXPECT_EQ(tmp_content().server_dirs, 0u);
}

TEST_F(OpenRequestTest, OtherDescriptorsBehindProcSelfFdAreResolvedAsPaths) {
  file("f.txt");
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd pipe_read(pipe_fds[0]), pipe_write(pipe_fds[1]);
  int socks[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socks), 0);
  UniqueFd sock_a(socks[0]), sock_b(socks[1]);
  UniqueFd regular(::open(at("f.txt").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(regular);

  struct Case {
    const char* kind;
    int fd;
  };
  const Case cases[] = {{"pipe", pipe_read.get()}, {"socket", sock_a.get()}, {"regular file", regular.get()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    ArgsKind args;
    args.paths_with_position = {proc_fd(c.fd)};
    {
      OpenRequest request = assemble_ok(args);
      EXPECT_TRUE(request.relay_pairs.empty());
      ASSERT_EQ(request.context.paths.size(), 1u);
      EXPECT_EQ(request.context.paths[0], parse_path_with_position(proc_fd(c.fd)).value());
      EXPECT_TRUE(tmp_content().files.empty());
    }
    EXPECT_TRUE(fd_open(c.fd)) << "the descriptor was taken over";
  }
  // A regular file is named by its own path.
  ArgsKind args;
  args.paths_with_position = {proc_fd(regular.get())};
  EXPECT_EQ(assemble_ok(args).context.paths, std::vector<std::string>{cwd() + "/f.txt"});
}

TEST_F(OpenRequestTest, AMemfdNamedTwiceIsReadThroughDescriptorsOfItsOwn) {
  UniqueFd memfd(::memfd_create("twice", MFD_CLOEXEC));
  ASSERT_TRUE(memfd);
  ASSERT_EQ(::write(memfd.get(), "abc", 3), 3);
  const int fd = memfd.get();
  const ino_t inode = inode_of_fd(fd);

  // Learn the number the second mention's own descriptor gets.
  ArgsKind args;
  args.paths_with_position = {proc_fd(fd), proc_fd(fd)};
  int reopened = -1;
  {
    OpenRequest request = assemble_ok(args);
    memfd.release();
    ASSERT_EQ(request.relay_pairs.size(), 2u);
    EXPECT_EQ(request.relay_pairs[0].source.get(), fd);
    reopened = request.relay_pairs[1].source.get();
    EXPECT_NE(reopened, fd);
    EXPECT_EQ(inode_of_fd(reopened), inode);
    // Its own file position: it reads the content from the start.
    char buffer[4] = {};
    EXPECT_EQ(::read(reopened, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_NE(request.context.paths[0], request.context.paths[1]);
  }
  EXPECT_FALSE(fd_open(fd));
  EXPECT_FALSE(fd_open(reopened));

  // Again, with a third argument naming the number the reopened descriptor
  // takes: that descriptor is the request's already and must not get a second
  // owner either.
  memfd = UniqueFd(::memfd_create("twice", MFD_CLOEXEC));
  ASSERT_EQ(memfd.get(), fd) << "the descriptor numbers are not reproducible here";
  args.paths_with_position = {proc_fd(fd), proc_fd(fd), proc_fd(reopened)};
  OpenRequest request = assemble_ok(args);
  memfd.release();
  ASSERT_EQ(request.relay_pairs.size(), 3u);
  ASSERT_EQ(request.relay_pairs[1].source.get(), reopened) << "the descriptor numbers are not reproducible here";
  std::set<int> sources;
  for (const auto& pair : request.relay_pairs) sources.insert(pair.source.get());
  EXPECT_EQ(sources.size(), 3u);
  EXPECT_EQ(request.context.paths.size(), 3u);
}

TEST_F(OpenRequestTest, DevServerTokenIsRefusedLast) {
  file("f.txt");
  const std::string refusal =
      "Dev servers were removed in v0.157.x please upgrade to SSH remoting: README.md#what-kiv-does-not-do-yet";
  struct Case {
    std::vector<std::string> positional;
    std::string error;
  };
  const Case cases[] = {
      {{}, refusal},
      {{at("f.txt"), "ssh://host"}, refusal},
      // The path's own error comes first.
      {{at("f.txt"), at("nothing/..")}, "parsing as path with position " + at("nothing/..")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    ArgsKind args;
    args.paths_with_position = c.positional;
    args.dev_server_token = "";
    auto request = assemble(args);
    ASSERT_FALSE(request);
    EXPECT_EQ(request.error().display(), c.error);
    EXPECT_EQ(tmp_content().server_dirs, 0u);
  }
}

TEST_F(OpenRequestTest, FailuresLeaveKeptFilesAndDropTheServer) {
  {
    SCOPED_TRACE("standard input, then the dev-server refusal");
    ArgsKind args;
    args.paths_with_position = {"-"};
    args.dev_server_token = "t";
    ASSERT_FALSE(assemble(args));
    TmpContent left = tmp_content();
    EXPECT_EQ(left.server_dirs, 0u);
    ASSERT_EQ(left.files.size(), 1u);
    EXPECT_TRUE(is_kept_temp_file(left.files[0]));
    fs::remove(left.files[0]);
  }
  {
    SCOPED_TRACE("a memfd, then a failing argument");
    UniqueFd memfd(::memfd_create("lost", MFD_CLOEXEC));
    const int fd = memfd.get();
    ArgsKind args;
    args.paths_with_position = {proc_fd(fd), at("nothing/..")};
    auto request = assemble(args);
    memfd.release();
    ASSERT_FALSE(request);
    EXPECT_EQ(request.error().display(), "parsing as path with position " + at("nothing/.."));
    EXPECT_FALSE(fd_open(fd)) << "the taken descriptor is closed on the way out";
    TmpContent left = tmp_content();
    EXPECT_EQ(left.server_dirs, 0u);
    ASSERT_EQ(left.files.size(), 1u);
    EXPECT_TRUE(is_kept_temp_file(left.files[0]));
    EXPECT_TRUE(left.dirs.empty());
    fs::remove(left.files[0]);
  }
  {
    SCOPED_TRACE("expanded directories, then a failing argument");
    file("old/x/one_sided.txt");
    fs::create_directories(at("new"));
    ArgsKind args;
    args.diff = {at("old"), at("new")};
    args.paths_with_position = {at("nothing/..")};
    ASSERT_FALSE(assemble(args));
    TmpContent left = tmp_content();
    EXPECT_EQ(left.server_dirs, 0u);
    EXPECT_TRUE(left.files.empty());
    ASSERT_EQ(left.dirs.size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(left.dirs[0] + "/x/one_sided.txt"));
  }
}

}  // namespace
}  // namespace kiv
