#include "cli/uninstall.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cerrno>
#include <vector>

#include "base/fs.hpp"
#include "base/io.hpp"
#include "base/process.hpp"
#include "base/text.hpp"
#include "base/unique_fd.hpp"
#include "cli/side_modes.hpp"
#include "release_channel/app_id.hpp"
#include "release_channel/release_channel.hpp"
#include "tempfs/temp.hpp"
#include "uninstall_script_text.hpp"

namespace kiv {
namespace {

// uninstall.sh names the application ids by these placeholders; they are
// filled in at compile time, so the script kiv writes is one constant.
struct Placeholder {
  std::string_view name;
  std::string_view value;
};
constexpr Placeholder PLACEHOLDERS[] = {
    {"@STABLE_APP_ID@", STABLE_APP_ID},
    {"@NIGHTLY_APP_ID@", NIGHTLY_APP_ID},
    {"@PREVIEW_APP_ID@", PREVIEW_APP_ID},
    {"@DEV_APP_ID@", DEV_APP_ID},
};

// Writes the filled-in script to `out` (when given) and returns its length.
constexpr size_t fill_placeholders(std::string_view text, char* out) {
  size_t n = 0;
  auto put = [&](char c) {
    if (out) out[n] = c;
    ++n;
  };
  for (size_t i = 0; i < text.size();) {
    const Placeholder* match = nullptr;
    for (const auto& p : PLACEHOLDERS)
      if (text.substr(i).starts_with(p.name)) match = &p;
    if (match) {
      for (char c : match->value) put(c);
      i += match->name.size();
    } else {
      put(text[i++]);
    }
  }
  return n;
}

constexpr size_t kScriptSize = fill_placeholders(UNINSTALL_SCRIPT_TEMPLATE, nullptr);
constexpr std::array<char, kScriptSize> kScript = [] {
  std::array<char, kScriptSize> script{};
  fill_placeholders(UNINSTALL_SCRIPT_TEMPLATE, script.data());
  return script;
}();

// A placeholder is @ and capitals; "$@" is the shell's own.
constexpr bool names_a_placeholder(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '@' && text[i + 1] >= 'A' && text[i + 1] <= 'Z') return true;
  return false;
}
static_assert(!names_a_placeholder(std::string_view(kScript.data(), kScript.size())),
              "uninstall.sh names a placeholder that is not filled in");

constexpr const char* kSpawnContext = "Failed to execute uninstall script";

// The directory is new, so the file cannot exist yet: one that does was put
// there by someone else, and is not followed or truncated.
Status write_script(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd) return fail_last_os();
  KIV_TRY(write_all(fd.get(), UNINSTALL_SCRIPT));
  if (::fchmod(fd.get(), 0755) != 0) return fail_last_os();
  return {};
}

// While the script runs, a Ctrl-C or Ctrl-\ at the terminal is the script's
// to act on: kiv outlives it to remove the temporary directory and report
// its end. Dispositions are put back when the guard goes.
class TerminalSignalsIgnored {
 public:
  TerminalSignalsIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &old_int_);
    ::sigaction(SIGQUIT, &ignore, &old_quit_);
  }
  ~TerminalSignalsIgnored() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGQUIT, &old_quit_, nullptr);
  }
  TerminalSignalsIgnored(const TerminalSignalsIgnored&) = delete;
  TerminalSignalsIgnored& operator=(const TerminalSignalsIgnored&) = delete;

  /// The signals the script gets back at their defaults (SIGPIPE besides):
  /// those of SIGINT and SIGQUIT that kiv was not started with ignored.
  std::vector<int> child_defaults() const {
    std::vector<int> signals;
    if (old_int_.sa_handler != SIG_IGN) signals.push_back(SIGINT);
    if (old_quit_.sa_handler != SIG_IGN) signals.push_back(SIGQUIT);
    return signals;
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_quit_ {};
};

// Runs `sh SCRIPT` with the standard streams inherited and waits for it:
// its exit code, or 1 when a signal ended it.
Result<int> run_script(const std::string& script_path) {
  CStrings argv({"sh", script_path});
  CStrings envp(environment_with("KIV_CHANNEL", RELEASE_CHANNEL_NAME.get()));
  TerminalSignalsIgnored guard;
  SpawnOptions options;
  options.default_signals = guard.child_defaults();
  KIV_TRY_ASSIGN(pid_t pid, with_context(spawn_process(argv, envp.get(), options), kSpawnContext));
  KIV_TRY_ASSIGN(int status, with_context(wait_for_process(pid), kSpawnContext));
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Every path the script removes begins with $HOME, so an empty one would
// aim it at /. An unset one stops the script at its first use.
Status refuse_empty_home() {
  if (auto home = env_bytes("HOME"); home && home->empty())
    return fail("Refusing to uninstall with an empty HOME: the script would remove files under /");
  return {};
}

// The script written into a temporary directory of its own and run; the
// directory is removed however this ends.
Result<int> run_uninstall_script() {
  KIV_TRY(refuse_empty_home());
  // Only kiv's own user may enter the directory, else another could put a
  // script of its own in place of this one before sh opens it.
  KIV_TRY_ASSIGN(PrivateFileDir dir, PrivateFileDir::create("uninstall.sh", OnSignals::Remove));
  KIV_TRY(write_script(dir.file()));
  return run_script(dir.file());
}

}  // namespace

const std::string_view UNINSTALL_SCRIPT(kScript.data(), kScript.size());

Outcome run_uninstall(const ArgsKind&, const std::string&) { return run_uninstall_script(); }

}  // namespace kiv
