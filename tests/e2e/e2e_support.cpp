#include "e2e_support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kiv::e2e {
namespace {

// In a forked child: the standard input the options ask for (DevNull or
// Inherit; a pipe is for run_process), cwd, then exec. Signals the test runner
// may have been started with ignored get their default actions back.
[[noreturn]] void exec_child(const testing::RunOptions& options, testing::ExecArgs& args) {
  for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) ::signal(signal_number, SIG_DFL);
  if (options.stdin_mode == testing::Stdio::DevNull) {
    int fd = ::open("/dev/null", O_RDONLY);
    ::dup2(fd, 0);
    if (fd != 0) ::close(fd);
  }
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(126);
  ::execve(args.argv[0], args.argv.data(), args.envp.data());
  _exit(127);
}

// Reads `fds` to their ends (closing each) until `deadline`.
void drain(std::vector<std::pair<int, std::string*>> fds, std::chrono::steady_clock::time_point deadline,
           testing::RunResult& result) {
  while (!fds.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      break;
    }
    std::vector<pollfd> polls;
    for (auto& [fd, _] : fds) polls.push_back({fd, POLLIN, 0});
    if (::poll(polls.data(), polls.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (size_t i = polls.size(); i-- > 0;) {
      if (!polls[i].revents) continue;
      char buffer[65536];
      ssize_t got = ::read(fds[i].first, buffer, sizeof buffer);
      if (got > 0) {
        fds[i].second->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        ::close(fds[i].first);
        fds.erase(fds.begin() + static_cast<long>(i));
      }
    }
  }
  for (auto& [fd, _] : fds) ::close(fd);
}

}  // namespace

std::vector<json> read_record(const std::string& path) {
  std::vector<json> lines;
  const std::string text = testing::read_file(path);
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(json::parse(text.substr(start, nl - start)));
  }
  return lines;
}

std::vector<json> record_events(const std::string& path, const std::string& event) {
  std::vector<json> found;
  for (auto& line : read_record(path))
    if (line.value("event", "") == event) found.push_back(std::move(line));
  return found;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Spawned::Spawned(const testing::RunOptions& options) : timeout_(options.timeout) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  testing::ExecArgs args(options);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    exec_child(options, args);
  }
  ::setpgid(pid_, pid_);
  ::close(out[1]);
  ::close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

Spawned::~Spawned() {
  if (reaped_) return;
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  ::close(out_);
  ::close(err_);
}

testing::RunResult Spawned::finish() {
  testing::RunResult result;
  auto deadline = std::chrono::steady_clock::now() + timeout_;
  drain({{out_, &result.out}, {err_, &result.err}}, deadline, result);
  testing::reap_process_group(pid_, deadline, result);
  reaped_ = true;
  return result;
}

ServingEditor::ServingEditor(std::map<std::string, std::string> env, const std::string& record,
                             std::optional<std::string> user_data_dir, const std::string& cwd) {
  // The idle limit is a safety net only: the destructor stops it.
  env["KIV_STAND_IN_SERVE"] = "120000";
  env["KIV_STAND_IN_RECORD"] = record;
  std::vector<std::string> argv = {testing::stand_in_editor_binary()};
  if (user_data_dir) argv.insert(argv.end(), {"--user-data-dir", *user_data_dir});
  testing::RunOptions options;
  options.argv = argv;
  options.env = env;
  options.cwd = cwd;
  testing::ExecArgs args(options);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    exec_child(options, args);
  }
  ::setpgid(pid_, pid_);
  ready_ = wait_until([&] {
    auto listening = record_events(record, "listening");
    if (listening.empty()) return false;
    socket_ = listening.front()["socket"].get<std::string>();
    return true;
  });
}

ServingEditor::~ServingEditor() {
  ::kill(pid_, SIGTERM);
  bool ended = wait_until([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, std::chrono::seconds(5));
  ::kill(-pid_, SIGKILL);
  if (!ended) ::waitpid(pid_, nullptr, 0);
}

testing::RunResult run_in_pty(const testing::RunOptions& options) {
  testing::ExecArgs args(options);
  int master = -1;
  winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) {
    testing::RunOptions inherit = options;
    inherit.stdin_mode = testing::Stdio::Inherit;
    exec_child(inherit, args);
  }
  testing::RunResult result;
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  // The master reads EIO once the last holder of the terminal has closed it.
  drain({{master, &result.out}}, deadline, result);
  testing::reap_process_group(pid, deadline, result);
  return result;
}

void kill_recorded_editors(const std::string& record, pid_t spare) {
  for (const auto& start : record_events(record, "start")) {
    pid_t pid = start["pid"].get<pid_t>();
    if (pid == spare) continue;
    const std::string text = testing::read_file("/proc/" + std::to_string(pid) + "/cmdline");
    if (text.find("kiv-editor") != std::string::npos) ::kill(pid, SIGKILL);
  }
}

ScopedBlockedSignals::ScopedBlockedSignals(std::initializer_list<int> signals) {
  sigset_t set;
  ::sigemptyset(&set);
  for (int signal_number : signals) ::sigaddset(&set, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &set, &old_);
}

ScopedBlockedSignals::~ScopedBlockedSignals() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

std::optional<std::uint64_t> blocked_signals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("SigBlk:")) return std::stoull(line.substr(7), nullptr, 16);
  }
  return std::nullopt;
}

E2eTest::E2eTest() : env_(testing::kiv_env(home_.path())), record_(home_.sub("record.jsonl")) {
  env_["KIV_STAND_IN_RECORD"] = record_;
  ::mkdir(home_.sub("work").c_str(), 0755);
  char resolved[PATH_MAX];
  work_ = ::realpath(home_.sub("work").c_str(), resolved) ? resolved : home_.sub("work");
}

E2eTest::~E2eTest() { kill_recorded_editors(record_); }

testing::RunOptions E2eTest::kiv(std::vector<std::string> args) const {
  testing::RunOptions options;
  options.argv = {testing::kiv_binary()};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = env_;
  options.cwd = work_;
  options.timeout = std::chrono::seconds(30);
  return options;
}

void E2eTest::script(const std::string& text) {
  testing::write_file(home_.sub("script"), text);
  env_["KIV_STAND_IN_SCRIPT"] = home_.sub("script");
}

std::vector<json> E2eTest::requests() const {
  std::vector<json> found;
  for (auto& line : record_events(record_, "request")) found.push_back(line["request"]);
  return found;
}

json E2eTest::only_open_request() const {
  auto all = requests();
  std::vector<json> open;
  for (auto& r : all)
    if (r["kind"] == "Open") open.push_back(r);
  EXPECT_EQ(open.size(), 1u) << json(all).dump();
  return open.empty() ? json::object() : open.front();
}

}  // namespace kiv::e2e
