#include "cli/launcher.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "askpass/askpass.hpp"
#include "base/eintr.hpp"
#include "base/io.hpp"
#include "base/panic.hpp"
#include "base/signal_cleanup.hpp"
#include "base/text.hpp"
#include "cli/bundle.hpp"
#include "cli/command_line.hpp"
#include "cli/copy.hpp"
#include "cli/exchange.hpp"
#include "cli/flatpak.hpp"
#include "cli/launch.hpp"
#include "cli/open_request.hpp"
#include "cli/side_modes.hpp"
#include "cli/worker_pool.hpp"
#include "paths/data_dir.hpp"
#include "util/root_refusal.hpp"

namespace kiv {

void prepare_process() {
  // One malloc arena for every thread: kiv's threads allocate little, and a
  // thread's first allocation would otherwise reserve and trim an arena of
  // its own (an mmap of 128 MiB and two munmaps).
  ::mallopt(M_ARENA_MAX, 1);
  ::signal(SIGPIPE, SIG_IGN);
  // Open /dev/null on every standard descriptor that is closed, so that no
  // file kiv opens later lands on 0, 1 or 2 and receives stray output.
  struct pollfd fds[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  (void)retry_on_eintr([&] { return ::poll(fds, 3, 0); });
  for (const auto& fd : fds) {
    if (fd.revents & POLLNVAL) {
      // Descriptors are taken in order, so open() returns exactly fd.fd.
      const int opened = ::open("/dev/null", O_RDWR);
      const int err = errno;
      if (opened != fd.fd) {
        panic("cannot open /dev/null on the closed descriptor " + std::to_string(fd.fd) + ": " +
              (opened < 0 ? Error::os(err).display() : "it became descriptor " + std::to_string(opened)));
      }
    }
  }
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

std::string askpass_prompt_from_args(const std::vector<std::string>& args) {
  std::string prompt;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i > 1) prompt += '\0';
    // The prompt must be text: an argument that is not UTF-8 is made so.
    prompt += utf8_lossy(args[i]);
  }
  return prompt;
}

Outcome run_launcher(const std::vector<std::string>& args) {
  // Root is refused unless allowed; this comes before everything, help included.
  if (auto refused = prevent_root_execution()) return *refused;

  // Inside the editor's Flatpak sandbox, kiv re-runs on the host.
  if (auto failed = restart_on_flatpak_host(args)) return *failed;

  // The library path, on every invocation.
  extend_library_path();

  // Askpass by environment: the command line is never parsed.
  if (auto socket = env_text("KIV_ASKPASS_SOCKET")) {
    return connect_and_write_prompt(*socket, askpass_prompt_from_args(args));
  }

  // The command line; help and usage errors end the invocation here.
  auto parsed_or_status = parse_command_line_or_report(args);
  if (!parsed_or_status) return parsed_or_status.error();
  ArgsKind& parsed = *parsed_or_status;

  // --askpass SOCKET.
  if (parsed.askpass) return askpass::main(*parsed.askpass);

  // --user-data-dir, before anything reads the data directory.
  if (parsed.user_data_dir) KIV_TRY(set_custom_data_dir(*parsed.user_data_dir));

  // The sandbox's own editor when the escape is switched off.
  use_sandbox_editor(parsed.kiv);

  // The editor executable; every later step needs it.
  KIV_TRY_ASSIGN(std::string editor_path, detect_bundle(parsed.kiv));

  // Side modes, in their order; the first asked for ends the invocation.
  for (const SideMode& mode : side_modes()) {
    if (mode.asked(parsed)) return mode.run(parsed, editor_path);
  }

  return run_open_path(parsed, editor_path);
}

Outcome run_open_path(const ArgsKind& args, const std::string& editor_path) {
  // The request and its resources; nothing has talked to the editor yet.
  KIV_TRY_ASSIGN(OpenRequest request, assemble_open_request(args, ::isatty(STDOUT_FILENO)));
  SharedExitStatusSlot slot = request.context.exit_status_slot;

  // With --foreground, kiv closes this pipe's writing end once the editor
  // process has ended, and the exchange stops waiting for a connection that
  // can no longer come. (Close-on-exec: the editor never holds the end.)
  UniqueFd foreground_editor_running;
  if (args.foreground) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return fail_last_os();
    request.context.one_shot_server.give_up_when_closed(UniqueFd(ends[0]));
    foreground_editor_running = UniqueFd(ends[1]);
  }

  // The idle worker pool comes first: four threads that are never given
  // work, kept because a running kiv has always shown them. Then the threads
  // of the exchange and the copies, in this order.
  build_global_worker_pool();
  JoinHandle<Status> receiver = spawn_cli_receiver(std::move(request.context));
  std::optional<JoinHandle<Status>> stdin_forwarder;
  if (request.stdin_target) stdin_forwarder = spawn_stdin_forwarder(std::move(*request.stdin_target));
  auto relays = spawn_anonymous_fd_relays(std::move(request.relay_pairs));

  // The launch. When no editor is going to connect, the exchange thread
  // waits on the rendezvous for ever and cannot remove it: kiv does, before
  // it ends.
  if (args.foreground) {
    // A foreground editor's own status is not ours: only what it reported
    // through the exchange counts. Once it has ended, what it sent may still
    // be on its way or being written out: the exchange ends when the channel
    // ends that closed with the editor run dry, or at once when it never
    // connected, and a failure in it is not reported. The copy threads are
    // left running.
    auto ran = run_app_foreground(editor_path, std::move(request.url), args.user_data_dir);
    if (!ran) {
      run_termination_cleanup_now();
      return std::unexpected(std::move(ran).error());
    }
    foreground_editor_running.reset();
    (void)receiver.join();
  } else {
    if (Status launched = send_url_or_spawn_app(editor_path, std::move(request.url), args.user_data_dir); !launched) {
      run_termination_cleanup_now();
      return std::unexpected(std::move(launched).error());
    }
    // Joins in their fixed order; the first failure is the run's error.
    KIV_TRY(receiver.join());
    if (stdin_forwarder) KIV_TRY(stdin_forwarder->join());
    for (auto& relay : relays) KIV_TRY(relay.join());
  }

  // The editor's reported status, passed on unchanged (the process exit
  // keeps its low eight bits), else 0.
  return slot->take().value_or(0);
}

void launcher_main(int argc, char** argv) {
  prepare_process();
  std::vector<std::string> args(argv, argv + argc);
  Outcome outcome = run_launcher(args);
  if (!outcome) {
    std::string report = "error: " + outcome.error().display() + "\n";
    (void)write_all(STDERR_FILENO, report);
    exit_process(1);
  }
  exit_process(*outcome);
}

}  // namespace kiv
