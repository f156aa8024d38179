// flatpak-spawn as kiv sees it from inside the editor's sandbox, for tests:
// it records every call and answers `--host flatpak info --show-location`
// with a location of the test's choosing. See README.md.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/io.hpp"
#include "base/unique_fd.hpp"

extern char** environ;

namespace {

[[noreturn]] void die(const std::string& message, int status) {
  std::fprintf(stderr, "flatpak-spawn stand-in: %s\n", message.c_str());
  std::exit(status);
}

std::string read_file(const std::string& path) {
  kiv::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  if (!fd || !kiv::read_to_end(fd.get(), content)) die("cannot read " + path, 125);
  return content;
}

void write_file(int fd, const std::string& content, const std::string& path) {
  if (!kiv::write_all(fd, content)) die("cannot write " + path, 125);
  ::close(fd);
}

// NUL-terminated entries.
std::string nul_list(char* const* entries) {
  std::string out;
  for (; *entries != nullptr; ++entries) {
    out += *entries;
    out += '\0';
  }
  return out;
}

// One file of a call's record, made anew.
void record_file(const std::string& dir, const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) die("cannot record into " + dir, 125);
  write_file(fd, content, path);
}

// N.argv, N.env, N.stdin, N.sigpipe ("ignored" or "default") and N.sigblk
// (the SigBlk mask of /proc/self/status, 16 hex digits) in `dir`, N the
// first number not taken yet.
void record_call(const std::string& dir, char** argv) {
  for (int n = 1;; ++n) {
    std::string base = dir + "/" + std::to_string(n);
    int fd = ::open((base + ".argv").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) die("cannot record into " + dir, 125);
    write_file(fd, nul_list(argv), base + ".argv");
    record_file(dir, base + ".env", nul_list(environ));
    char target[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/fd/0", target, sizeof target);
    record_file(dir, base + ".stdin", length < 0 ? "(closed)" : std::string(target, static_cast<size_t>(length)));
    struct sigaction sigpipe {};
    ::sigaction(SIGPIPE, nullptr, &sigpipe);
    record_file(dir, base + ".sigpipe", sigpipe.sa_handler == SIG_IGN ? "ignored" : "default");
    std::string sigblk;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("SigBlk:\t")) sigblk = line.substr(8);
    }
    record_file(dir, base + ".sigblk", sigblk);
    return;
  }
}

[[noreturn]] void show_location() {
  std::fprintf(stderr, "flatpak-spawn stand-in: flatpak info\n");
  if (const char* location = std::getenv("KIV_STAND_IN_SPAWN_LOCATION")) {
    std::string bytes = read_file(location);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
  std::fflush(stdout);
  const char* status = std::getenv("KIV_STAND_IN_SPAWN_INFO_STATUS");
  std::exit(status ? std::atoi(status) : 0);
}

// Runs `argv` in the host environment, with `settings` (NAME=VALUE) put in.
[[noreturn]] void run_on_host(const std::string& host_env_file, const std::vector<std::string>& settings, char** argv) {
  std::vector<std::string> env;
  std::string entries = read_file(host_env_file);
  for (size_t start = 0; start < entries.size();) {
    size_t end = entries.find('\0', start);
    if (end == std::string::npos) end = entries.size();
    env.push_back(entries.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& setting : settings) {
    std::string prefix = setting.substr(0, setting.find('=') + 1);
    std::erase_if(env, [&](const std::string& entry) { return entry.starts_with(prefix); });
    env.push_back(setting);
  }
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  ::execve(argv[0], argv, envp.data());
  die(std::string("cannot run ") + argv[0] + ": " + std::strerror(errno), 127);
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* dir = std::getenv("KIV_STAND_IN_SPAWN_RECORD")) record_call(dir, argv);
  if (argc < 2 || std::strcmp(argv[1], "--host") != 0) die("only --host is played", 2);
  if (argc == 6 && std::strcmp(argv[2], "flatpak") == 0 && std::strcmp(argv[3], "info") == 0 &&
      std::strcmp(argv[4], "--show-location") == 0)
    show_location();

  std::vector<std::string> settings;
  int i = 2;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    if (std::strncmp(argv[i], "--env=", 6) != 0 || std::strchr(argv[i] + 6, '=') == nullptr)
      die(std::string("unknown option ") + argv[i], 2);
    settings.emplace_back(argv[i] + 6);
  }
  if (i == argc) die("no program to run", 2);
  const char* host_env = std::getenv("KIV_STAND_IN_SPAWN_HOST_ENV");
  if (host_env == nullptr) return 0;
  run_on_host(host_env, settings, argv + i);
}
