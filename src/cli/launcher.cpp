#include "cli/launcher.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/io.hpp"
#include "base/text.hpp"
#include "cli/bundle.hpp"
#include "cli/command_line.hpp"
#include "cli/flatpak.hpp"
#include "paths/data_dir.hpp"
#include "util/root_refusal.hpp"

namespace kiv {
namespace {

// A step whose feature this build does not have yet: asked for, it ends the
// run with an error rather than pretending to succeed.
Status not_built(const char* feature) { return fail(std::string(feature) + " is not built yet"); }

}  // namespace

void prepare_process() {
  ::signal(SIGPIPE, SIG_IGN);
  // Open /dev/null on every standard descriptor that is closed, so that no
  // file kiv opens later lands on 0, 1 or 2 and receives stray output.
  struct pollfd fds[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  while (::poll(fds, 3, 0) < 0 && errno == EINTR) {
  }
  for (const auto& fd : fds) {
    if (fd.revents & POLLNVAL) {
      // Descriptors are taken in order, so open() returns exactly fd.fd.
      if (::open("/dev/null", O_RDWR) != fd.fd) ::abort();
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

Status run_launcher(const std::vector<std::string>& args) {
  // 1. Refuse root unless allowed; this comes before everything, help included.
  prevent_root_execution();

  // 2. Inside the editor's Flatpak sandbox, re-run on the host.
  KIV_TRY(restart_on_flatpak_host());

  // 3. LD_LIBRARY_PATH, on every invocation.
  extend_library_path();

  // 4. Askpass by environment: the command line is never parsed.
  if (env_text("KIV_ASKPASS_SOCKET")) {
    std::string prompt = askpass_prompt_from_args(args);
    // PLACEHOLDER(askpass): connect_and_write_prompt with the socket and prompt.
    return not_built("the askpass relay");
  }

  // 5. The command line. Help and usage errors end the process here.
  ArgsKind parsed = parse_command_line_or_exit(args);

  // 6. --askpass SOCKET.
  if (parsed.askpass) {
    // PLACEHOLDER(askpass): askpass::main with the socket path.
    return not_built("the askpass relay");
  }

  // 7. --user-data-dir, before anything reads the data directory.
  std::optional<std::string> user_data_dir = parsed.user_data_dir;
  if (user_data_dir) KIV_TRY(set_custom_data_dir(*user_data_dir));

  // 8. The sandbox's own editor when the escape is switched off.
  KIV_TRY(use_sandbox_editor(parsed.kiv));

  // 9. The editor executable; every later step needs it.
  KIV_TRY_ASSIGN(std::string editor_path, detect_bundle(parsed.kiv));

  // 10. Side modes, in this order; the first asked for ends the invocation.
  // PLACEHOLDER(side modes): completions, version, system specs, uninstall.
  if (parsed.completions) return not_built("--completions");
  if (parsed.version) return not_built("--version");
  if (parsed.system_specs) return not_built("--system-specs");
  if (parsed.uninstall) return not_built("--uninstall");

  // 11. The open path: request assembly, worker pool, threads, launch, joins.
  // 12. The end: the editor's reported status, or success.
  // PLACEHOLDER(open path).
  (void)editor_path;
  return not_built("opening files in the editor");
}

void exit_process(int status) {
  std::fflush(stdout);
  _exit(status);
}

void launcher_main(int argc, char** argv) {
  prepare_process();
  std::vector<std::string> args(argv, argv + argc);
  Status result = run_launcher(args);
  if (!result) {
    std::string report = "error: " + result.error().display() + "\n";
    (void)write_all(STDERR_FILENO, report);
    exit_process(1);
  }
  exit_process(0);
}

}  // namespace kiv
