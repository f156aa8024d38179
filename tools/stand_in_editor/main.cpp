// kiv-editor, the stand-in: takes the editor's side of kiv's protocol so that
// kiv can be shown working and tested without the editor. It opens nothing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/text.hpp"
#include "ipc/channel.hpp"
#include "paths/data_dir.hpp"
#include "record.hpp"
#include "release_channel/release_channel.hpp"
#include "session.hpp"

namespace kiv::stand_in {
namespace {

using nlohmann::json;

constexpr std::string_view HELP =
    "kiv-editor: kiv's stand-in editor for development and tests, not the Kiv editor.\n"
    "It takes kiv's requests, answers by describing them, and opens nothing.\n"
    "Usage: kiv-editor kiv-cli://SOCKET [--user-data-dir DIR]\n"
    "Environment: KIV_STAND_IN_SCRIPT (a script), KIV_STAND_IN_RECORD (a record file),\n"
    "KIV_STAND_IN_SERVE (serve the hand-over socket; milliseconds of idleness to stop after, 0 never).\n"
    "See tools/stand_in_editor/README.md in kiv's sources.\n";

// The largest hand-over URL taken from one datagram.
constexpr std::size_t MAX_DATAGRAM = 65536;

volatile std::sig_atomic_t stop_signal = 0;
extern "C" void on_stop_signal(int signal_number) { stop_signal = signal_number; }

void say(std::string_view text) { (void)write_all(STDERR_FILENO, "kiv-editor (stand-in): " + std::string(text) + "\n"); }

// Which of 0, 1 and 2 were open at start. Closed ones are opened on
// /dev/null, so that nothing opened later lands on them.
std::vector<bool> settle_standard_descriptors() {
  std::vector<bool> open;
  for (int fd = 0; fd < 3; ++fd) open.push_back(::fcntl(fd, F_GETFD) != -1);
  for (int fd = 0; fd < 3; ++fd) {
    if (!open[static_cast<std::size_t>(fd)]) (void)::open("/dev/null", O_RDWR);
  }
  return open;
}

struct Arguments {
  std::optional<std::string> url;
  std::optional<std::string> user_data_dir;
  bool help = false;
};

Result<Arguments> parse_arguments(const std::vector<std::string>& args) {
  Arguments parsed;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help") {
      parsed.help = true;
    } else if (arg == "--user-data-dir") {
      if (++i == args.size()) return fail("--user-data-dir needs a directory");
      parsed.user_data_dir = args[i];
    } else if (arg.starts_with("kiv-cli://") && !parsed.url) {
      parsed.url = arg;
    } else {
      return fail("unexpected argument " + debug_quoted(arg));
    }
  }
  return parsed;
}

// The hand-over socket's path: the user data directory as typed, else the
// data directory, joined with "kiv-{channel}.sock".
Result<std::string> handover_socket_path(const std::optional<std::string>& user_data_dir) {
  std::string dir;
  if (user_data_dir) {
    dir = *user_data_dir;
  } else {
    KIV_TRY_ASSIGN(dir, data_dir());
  }
  if (!dir.empty()) KIV_TRY(create_dir_all(dir));
  std::string name = "kiv-" + RELEASE_CHANNEL_NAME.get() + ".sock";
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The datagram socket of a running editor, bound in place of any stale one.
struct Listener {
  UniqueFd fd;
  std::string path;
  ino_t inode = 0;
};

Result<Listener> listen_for_handovers(const std::string& path) {
  KIV_TRY_ASSIGN(ipc::UnixSocketAddress address, ipc::unix_socket_address(path));
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail_last_os();
  Listener listener{UniqueFd(fd), path};
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) return fail_last_os();
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) listener.inode = st.st_ino;
  return listener;
}

// Serves one session per datagram until SIGTERM or SIGINT, or until
// `idle_millis` (when not 0) pass without one. A signal that comes during a
// session is taken after it.
void serve(const Record& record, Listener& listener, std::uint32_t idle_millis, int& session_number) {
  sigset_t stop_signals, wait_mask;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
  sigdelset(&wait_mask, SIGTERM);
  sigdelset(&wait_mask, SIGINT);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  const timespec idle{static_cast<time_t>(idle_millis / 1000), static_cast<long>(idle_millis % 1000) * 1000000L};
  std::string reason;
  std::string datagram(MAX_DATAGRAM, '\0');
  while (reason.empty()) {
    pollfd p{listener.fd.get(), POLLIN, 0};
    int ready = ::ppoll(&p, 1, idle_millis ? &idle : nullptr, &wait_mask);
    if (ready < 0) {
      if (errno != EINTR) reason = "error: " + Error::last_os().display();
      if (stop_signal) reason = "signal";
      continue;
    }
    if (ready == 0) {
      reason = "idle";
      continue;
    }
    ssize_t n = ::recv(listener.fd.get(), datagram.data(), datagram.size(), MSG_TRUNC);
    if (n < 0) continue;
    if (static_cast<std::size_t>(n) > datagram.size()) {
      record.write(json{{"event", "error"}, {"session", nullptr}, {"stage", "serve"}, {"error", "datagram too long"}});
      continue;
    }
    run_session(record, ++session_number, datagram.substr(0, static_cast<std::size_t>(n)), "datagram");
  }
  // Remove the socket file only if it is still ours.
  struct stat st;
  if (::stat(listener.path.c_str(), &st) == 0 && st.st_ino == listener.inode) ::unlink(listener.path.c_str());
  record.write(json{{"event", "stop"}, {"reason", reason}});
}

int stand_in_main(int argc, char** argv) {
  std::vector<bool> stdio_open = settle_standard_descriptors();
  struct sigaction inherited_sigpipe {};
  ::sigaction(SIGPIPE, nullptr, &inherited_sigpipe);
  const bool sigpipe_ignored = inherited_sigpipe.sa_handler == SIG_IGN;
  ::signal(SIGPIPE, SIG_IGN);
  auto record = Record::open_from_env();
  if (!record) {
    say(record.error().display());
    return 1;
  }
  std::vector<std::string> args(argv, argv + argc);
  json argv_json = json::array();
  for (const auto& arg : args) argv_json.push_back(bytes_json(arg));
  auto cwd = current_dir();
  auto inherited = [](const char* name) {
    auto value = env_bytes(name);
    return value ? bytes_json(*value) : json(nullptr);
  };
  record->write(json{{"event", "start"},
                     {"pid", ::getpid()},
                     {"argv", argv_json},
                     {"cwd", cwd ? bytes_json(*cwd) : json(nullptr)},
                     {"force_cli_mode", inherited("KIV_FORCE_CLI_MODE")},
                     {"ld_library_path", inherited("LD_LIBRARY_PATH")},
                     {"update_explanation", inherited("KIV_UPDATE_EXPLANATION")},
                     {"stdio_open", stdio_open},
                     {"session_leader", ::getsid(0) == ::getpid()},
                     {"sigpipe_ignored", sigpipe_ignored}});

  auto fail_start = [&](const char* stage, const std::string& text, int status) {
    record->write(json{{"event", "error"}, {"session", nullptr}, {"stage", stage}, {"error", bytes_json(text)}});
    say(text);
    return status;
  };
  auto arguments = parse_arguments(args);
  if (!arguments) return fail_start("arguments", arguments.error().display() + "\n" + std::string(HELP), 2);
  if (arguments->help) {
    (void)write_all(STDOUT_FILENO, HELP);
    return 0;
  }
  std::optional<std::uint32_t> idle_millis;
  if (auto serve_value = env_bytes("KIV_STAND_IN_SERVE")) {
    std::uint32_t millis = 0;
    auto [end, error] = std::from_chars(serve_value->data(), serve_value->data() + serve_value->size(), millis);
    if (error != std::errc() || end != serve_value->data() + serve_value->size() || serve_value->empty()) {
      return fail_start("arguments", "KIV_STAND_IN_SERVE must be milliseconds, not " + debug_quoted(*serve_value), 2);
    }
    idle_millis = millis;
  }
  if (!arguments->url && !idle_millis) return fail_start("arguments", "nothing to do\n" + std::string(HELP), 2);

  // The hand-over socket is bound before the first session, so that a kiv
  // started meanwhile already finds it.
  std::optional<Listener> listener;
  if (idle_millis) {
    auto path = handover_socket_path(arguments->user_data_dir);
    auto bound = path ? listen_for_handovers(*path) : Result<Listener>(fail(path.error()));
    if (!bound) return fail_start("serve", "cannot serve the hand-over socket: " + bound.error().display(), 1);
    listener = std::move(*bound);
    record->write(json{{"event", "listening"}, {"socket", bytes_json(listener->path)}});
  }

  int session_number = 0;
  bool ok = true;
  if (arguments->url) ok = run_session(*record, ++session_number, *arguments->url, "argv");
  if (listener) serve(*record, *listener, *idle_millis, session_number);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace kiv::stand_in

int main(int argc, char** argv) { return kiv::stand_in::stand_in_main(argc, argv); }
