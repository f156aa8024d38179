// Test driver: asks the open-behaviour question the way kiv does and writes
// each answer on a line of its own, so that terminal tests can type at it.
//
//   prompt_driver [--out PATH] [--count N] [--select-only] [--catch-usr1] [--ignore-sigint]
//
// --out PATH       answers go to PATH (appended, one write per line) instead
//                  of standard output, which stays free to be a terminal
// --count N        ask N times in a row (default 1)
// --select-only    skip the standard-input check and write "selected N" or
//                  "error: MESSAGE" from the selection list itself
// --catch-usr1     install a handler for SIGUSR1 that does nothing
// --ignore-sigint  ignore SIGINT
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/io.hpp"
#include "prompt/open_behavior_prompt.hpp"
#include "prompt/select.hpp"

namespace {

extern "C" void ignore_signal(int) {}

int usage(std::string_view problem) {
  std::fprintf(stderr, "prompt_driver: %.*s\n", static_cast<int>(problem.size()), problem.data());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_path;
  int count = 1;
  bool select_only = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      out_path = argv[++i];
    } else if (arg == "--count" && i + 1 < argc) {
      count = std::atoi(argv[++i]);
    } else if (arg == "--select-only") {
      select_only = true;
    } else if (arg == "--catch-usr1") {
      struct sigaction action {};
      action.sa_handler = ignore_signal;  // no SA_RESTART: the wait sees EINTR
      sigemptyset(&action.sa_mask);
      ::sigaction(SIGUSR1, &action, nullptr);
    } else if (arg == "--ignore-sigint") {
      ::signal(SIGINT, SIG_IGN);
    } else {
      return usage("unknown argument " + std::string(arg));
    }
  }
  int out = STDOUT_FILENO;
  if (!out_path.empty()) {
    out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return usage("cannot open " + out_path);
  }
  for (int i = 0; i < count; ++i) {
    std::string line;
    if (select_only) {
      const auto items = kiv::open_behavior_item_texts();
      kiv::Result<size_t> chosen = kiv::select_on_stderr(kiv::open_behavior_prompt_text(), items, 0);
      line = chosen ? "selected " + std::to_string(*chosen) : "error: " + chosen.error().display();
    } else {
      line = std::to_string(kiv::ask_open_behavior());
    }
    line += '\n';
    if (!kiv::write_all(out, line)) return 1;
  }
  return 0;
}
