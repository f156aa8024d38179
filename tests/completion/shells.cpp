#include "shells.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"

namespace kiv::testing {
namespace {

constexpr auto kShellLimit = std::chrono::seconds(30);

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> normalised(std::vector<std::string> words) {
  for (std::string& w : words) {
    if (w.size() > 1 && w.back() == '/') w.pop_back();
  }
  std::erase(words, "");
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}

std::string driver(const std::string& name) { return std::string(KIV_COMPLETION_DRIVERS) + "/" + name; }

RunResult run_in(const std::vector<std::string>& argv, const std::string& cwd, const std::string& home,
                 std::map<std::string, std::string> extra = {}) {
  RunOptions options;
  options.argv = argv;
  options.env = kiv_env(home);
  options.env["TERM"] = "xterm";
  for (auto& [k, v] : extra) options.env[k] = v;
  options.cwd = cwd;
  options.timeout = kShellLimit;
  return run_process(options);
}

// The lines of a driver's output file, without the "<<done>>" it ends with
// when it finished.
bool read_finished(const std::string& path, std::vector<std::string>& lines) {
  lines = lines_of(read_file(path));
  if (lines.empty() || lines.back() != "<<done>>") return false;
  lines.pop_back();
  return true;
}

std::string first_word(const std::string& line) { return line.substr(0, line.find(' ')); }

}  // namespace

std::string shell_name(Shell shell) {
  switch (shell) {
    case Shell::Bash: return "bash";
    case Shell::BashWithHelpers: return "bash_with_helpers";
    case Shell::Zsh: return "zsh";
    case Shell::Fish: return "fish";
    case Shell::Elvish: return "elvish";
    case Shell::Nushell: return "nushell";
  }
  return "?";
}

std::string completions_value(Shell shell) {
  return shell == Shell::BashWithHelpers ? "bash" : shell_name(shell);
}

std::string nu_binary() { return KIV_NU_BINARY; }

std::vector<std::string> after_equals(std::vector<std::string> candidates) {
  for (std::string& c : candidates) {
    std::size_t eq = c.find('=');
    if (eq != std::string::npos) c.erase(0, eq + 1);
  }
  return normalised(std::move(candidates));
}

std::vector<std::string> complete_line(Shell shell, const std::string& script, const std::string& line,
                                       const std::string& cwd, const std::string& home) {
  const std::string scripts = home + "/scripts";
  std::filesystem::create_directories(scripts);
  const std::string out = home + "/candidates";
  std::filesystem::remove(out);
  RunResult r;
  std::vector<std::string> candidates;
  switch (shell) {
    case Shell::Bash:
    case Shell::BashWithHelpers: {
      write_file(scripts + "/script.bash", script);
      std::vector<std::string> argv = {"/bin/bash", "--norc", "--noprofile", driver("complete_bash.bash"),
                                       scripts + "/script.bash", line};
      if (shell == Shell::BashWithHelpers) argv.push_back("--with-helpers");
      r = run_in(argv, cwd, home);
      candidates = lines_of(r.out);
      break;
    }
    case Shell::Zsh: {
      // Autoloaded from $fpath by its #compdef line, as an installed file is.
      write_file(scripts + "/_" + first_word(line), script);
      r = run_in({"/usr/bin/zsh", "-f", driver("complete_zsh.zsh"), scripts, line, out}, cwd, home);
      if (!read_finished(out, candidates)) {
        ADD_FAILURE() << "zsh did not finish completing " << line << ": " << r.err;
        return {"<failed>"};
      }
      break;
    }
    case Shell::Fish: {
      write_file(scripts + "/script.fish", script);
      r = run_in({"/usr/bin/fish", "--no-config", "-c", "source $argv[1]; and complete -C $argv[2]",
                  scripts + "/script.fish", line},
                 cwd, home);
      for (const std::string& l : lines_of(r.out)) candidates.push_back(l.substr(0, l.find('\t')));
      break;
    }
    case Shell::Elvish: {
      // Elvish's line editor, and with it edit:, exists only on a terminal.
      write_file(scripts + "/script.elv", script);
      r = run_in({"/usr/bin/script", "-qec", "elvish -rc " + driver("complete_elvish.elv"), "/dev/null"}, cwd, home,
                 {{"SCRIPT", scripts + "/script.elv"}, {"LINE", line}, {"OUT", out}});
      if (!read_finished(out, candidates)) {
        ADD_FAILURE() << "elvish did not finish completing " << line << ": " << r.out;
        return {"<failed>"};
      }
      break;
    }
    case Shell::Nushell: {
      if (nu_binary().empty()) {
        ADD_FAILURE() << "nu is missing: scripts/setup installs it, then configure again";
        return {"<failed>"};
      }
      // The module as a user loads it, then the line to complete.
      const std::string file = scripts + "/complete.nu";
      write_file(file, script + line);
      r = run_in({nu_binary(), "--no-config-file", "--no-std-lib", "--ide-complete",
                  std::to_string(script.size() + line.size()), file},
                 cwd, home);
      auto json = nlohmann::json::parse(r.out, nullptr, false);
      if (json.is_discarded() || !json.contains("completions")) {
        ADD_FAILURE() << "nu gave no completions for " << line << ": " << r.out << r.err;
        return {"<failed>"};
      }
      for (const auto& c : json["completions"]) candidates.push_back(c.get<std::string>());
      break;
    }
  }
  if (r.timed_out || r.exit_code != 0) {
    ADD_FAILURE() << shell_name(shell) << " failed on " << line << " (status " << r.exit_code
                  << (r.timed_out ? ", timed out" : "") << "): " << r.err;
    return {"<failed>"};
  }
  return normalised(std::move(candidates));
}

}  // namespace kiv::testing
