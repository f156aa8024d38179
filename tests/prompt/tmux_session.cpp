#include "tmux_session.hpp"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "pty_session.hpp"
#include "test_support.hpp"

namespace kiv::testing {
namespace {

constexpr auto WAIT_LIMIT = std::chrono::seconds(10);

std::map<std::string, std::string> tmux_env(const std::string& dir) {
  return {{"HOME", dir}, {"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"LANG", "C.UTF-8"}, {"TMPDIR", dir}};
}

}  // namespace

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool has_word(const std::string& text, const std::string& word) {
  std::istringstream words(text);
  for (std::string w; words >> w;) {
    if (w == word) return true;
  }
  return false;
}

TmuxSession::TmuxSession(const std::string& dir, unsigned short rows, unsigned short columns,
                         const std::string& command)
    : dir_(dir), socket_(dir + "/tmux.sock"), stream_path_(dir + "/tmux.stream") {
  write_file(dir + "/tmux.conf", "set -g status off\nset -g history-limit 0\n");
  write_file(stream_path_, "");
  const std::string self = "tmux -S " + shell_quote(socket_);
  // The command starts only when told, so that recording misses nothing.
  const std::string script = self + " wait-for go; " + command + "\n" + self + " wait-for -S done; exec sleep 600";
  if (!tmux({"-f", dir + "/tmux.conf", "new-session", "-d", "-s", "t", "-x", std::to_string(columns), "-y",
             std::to_string(rows), script})) {
    return;
  }
  std::string out;
  if (tmux({"display-message", "-p", "-t", "t", "#{pid} #{pane_tty}"}, &out)) {
    std::istringstream fields(out);
    fields >> server_pid_ >> tty_;
  }
  tmux({"pipe-pane", "-t", "t", "cat >> " + shell_quote(stream_path_)});
  tmux({"wait-for", "-S", "go"});
}

TmuxSession::~TmuxSession() {
  tmux({"kill-server"});
  if (server_pid_ > 0) ::kill(server_pid_, SIGKILL);
}

bool TmuxSession::tmux(const std::vector<std::string>& args, std::string* out) {
  RunOptions options;
  options.argv = {"/usr/bin/tmux", "-S", socket_};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = tmux_env(dir_);
  options.timeout = WAIT_LIMIT;
  RunResult result = run_process(options);
  if (out) *out = result.out;
  return result.exit_code == 0;
}

std::vector<std::string> TmuxSession::screen() {
  std::string out;
  tmux({"capture-pane", "-p", "-t", "t"}, &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

bool TmuxSession::cursor_visible() {
  std::string out;
  tmux({"display-message", "-p", "-t", "t", "#{cursor_flag}"}, &out);
  return out == "1\n";
}

std::string TmuxSession::stream() const { return read_file(stream_path_); }

bool TmuxSession::wait_until(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + WAIT_LIMIT;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool TmuxSession::wait_for_raw_mode() {
  int fd = ::open(tty_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool raw = wait_until([&] {
    termios mode{};
    return ::tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ICANON) == 0;
  });
  ::close(fd);
  return raw;
}

bool TmuxSession::press(const std::string& key) {
  if (!wait_for_raw_mode()) return false;
  size_t before = count_of(stream(), "> ");
  if (!tmux({"send-keys", "-t", "t", key})) return false;
  return wait_until([&] { return count_of(stream(), "> ") > before; });
}

bool TmuxSession::press_last(const std::string& key) {
  return wait_for_raw_mode() && tmux({"send-keys", "-t", "t", key});
}

bool TmuxSession::wait_for_command() { return tmux({"wait-for", "done"}); }

}  // namespace kiv::testing
