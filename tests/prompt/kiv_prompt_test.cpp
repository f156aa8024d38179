// The open-behaviour question as a user meets it: kiv itself runs in a real
// terminal (tmux), the stand-in editor asks through it, the test types the
// keys, and what the editor was answered is read from the stand-in's record.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "open_behavior_reference.hpp"
#include "pty_session.hpp"
#include "test_support.hpp"
#include "tmux_session.hpp"

namespace kiv {
namespace {

using nlohmann::json;
using testing::count_of;
using testing::shell_quote;
using testing::TmuxSession;
using namespace testing::reference;

const std::string HIDE = "\x1b[?25l";
const std::string SHOW = "\x1b[?25h";

struct KivRunOptions {
  unsigned short rows = 24;
  int prompts = 1;           // how often the editor asks before it exits
  std::string env;           // extra `env` arguments (NAME=VALUE, -u NAME)
  std::string redirections;  // appended to kiv's command line
  std::string before;        // shell commands run before kiv, ending in ";"
};

// One run of `kiv FILE` in a tmux window of 80 columns, in a home of its own,
// against the stand-in scripted to take the request, ask, and exit 0. The
// window's shell records the terminal's mode before and after kiv and kiv's
// exit status. A stand-in still running at the end is killed.
class KivRun {
 public:
  explicit KivRun(const KivRunOptions& options)
      : tmux_(home_.path(), options.rows, 80, prepare(home_, options)) {}
  ~KivRun() { kill_leftover_editor(); }
  KivRun(const KivRun&) = delete;
  KivRun& operator=(const KivRun&) = delete;

  TmuxSession& tmux() { return tmux_; }
  std::string sub(const std::string& relative) const { return home_.sub(relative); }

  // Waits for kiv and the shell commands after it to end.
  bool wait() { return tmux_.wait_for_command(); }
  // kiv's exit status as the shell reports it.
  std::string status() const { return testing::read_file(home_.sub("status")); }
  // kiv's process id, once it has started.
  pid_t pid() const {
    pid_t pid = -1;
    TmuxSession::wait_until([&] {
      std::istringstream(testing::read_file(home_.sub("kiv.pid"))) >> pid;
      return pid > 0;
    });
    return pid;
  }
  bool mode_unchanged() const {
    return testing::read_file(home_.sub("stty.before")) == testing::read_file(home_.sub("stty.after"));
  }

  // The stand-in's record, one object per line.
  std::vector<json> record() const {
    std::vector<json> events;
    std::istringstream in(testing::read_file(home_.sub("record.jsonl")));
    for (std::string line; std::getline(in, line);) {
      // A line being appended may be seen cut short; it is read next time.
      json event = json::parse(line, nullptr, false);
      if (!event.is_discarded()) events.push_back(std::move(event));
    }
    return events;
  }
  // The SetOpenBehavior choices the editor received, in order.
  std::vector<int> answers() const {
    std::vector<int> choices;
    for (const json& event : record()) {
      if (event["event"] == "request" && event["request"]["kind"] == "SetOpenBehavior") {
        choices.push_back(event["request"]["choice"].get<int>());
      }
    }
    return choices;
  }

 private:
  static std::string prepare(const testing::ScopedTempDir& home, const KivRunOptions& options) {
    std::string script = "receive\n";
    for (int i = 0; i < options.prompts; ++i) script += "prompt\n";
    script += "exit 0\n";
    testing::write_file(home.sub("script"), script);

    std::map<std::string, std::string> env = testing::kiv_env(home.path());
    env["KIV_STAND_IN_SCRIPT"] = home.sub("script");
    env["KIV_STAND_IN_RECORD"] = home.sub("record.jsonl");
    std::string command = "cd " + shell_quote(home.path()) + " && " + options.before + " stty -a > " +
                          shell_quote(home.sub("stty.before")) + "; sh -c " +
                          shell_quote("echo $$ > " + shell_quote(home.sub("kiv.pid")) + " && exec \"$@\"") + " sh env";
    for (const auto& [name, value] : env) command += " " + shell_quote(name + "=" + value);
    command += " " + options.env + " " + shell_quote(testing::kiv_binary()) + " " +
               shell_quote(home.sub("notes.txt")) + options.redirections;
    command += "; echo $? > " + shell_quote(home.sub("status"));
    command += "; stty -a > " + shell_quote(home.sub("stty.after"));
    return command;
  }

  // The stand-in runs in a session of its own, out of reach of the tmux
  // server's end; it normally ends with kiv, but a failed test must not leave
  // it behind.
  void kill_leftover_editor() const {
    for (const json& event : record()) {
      if (event["event"] != "start") continue;
      const pid_t pid = event["pid"].get<pid_t>();
      const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
      std::error_code error;
      if (std::filesystem::read_symlink(exe, error) == std::filesystem::path(testing::stand_in_editor_binary())) {
        ::kill(pid, SIGKILL);
      }
    }
  }

  testing::ScopedTempDir home_;
  TmuxSession tmux_;
};

// Types every key but the last with a wait for its redraw, then the last.
void type_keys(TmuxSession& tmux, const std::vector<std::string>& keys) {
  for (size_t i = 0; i + 1 < keys.size(); ++i) ASSERT_TRUE(tmux.press(keys[i])) << keys[i];
  ASSERT_TRUE(tmux.press_last(keys.back())) << keys.back();
}

std::string joined(const std::vector<std::string>& keys) {
  std::string name;
  for (const std::string& key : keys) name += key + " ";
  return name;
}

std::vector<std::string> top(std::vector<std::string> lines, size_t n) {
  lines.resize(n);
  return lines;
}

TEST(KivPrompt, KeysChooseTheAnswerSent) {
  struct Case {
    std::vector<std::string> keys;  // the last one chooses
    int answer;
  };
  const Case cases[] = {
      {{"Down", "Enter"}, 1},
      {{"Enter"}, 0},
      {{"Down", "Down", "Enter"}, 0},
      {{"Tab", "Enter"}, 1},
      {{"j", "Enter"}, 1},
      {{"k", "Enter"}, 1},
      {{"Up", "Enter"}, 1},
      {{"BTab", "Enter"}, 1},
      {{"Tab", "BTab", "Enter"}, 0},
      {{"j", "j", "k", "Enter"}, 1},
      {{"Space"}, 0},
      {{"Down", "Space"}, 1},
      {{"Escape", "q", "Enter"}, 0},
      {{"Down", "Escape", "q", "Space"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.keys));
    KivRun run({});
    ASSERT_NO_FATAL_FAILURE(type_keys(run.tmux(), c.keys));
    ASSERT_TRUE(run.wait());
    EXPECT_EQ(run.answers(), std::vector<int>{c.answer});
    EXPECT_EQ(run.status(), "0\n");
    EXPECT_TRUE(run.mode_unchanged());
    EXPECT_TRUE(run.tmux().cursor_visible());
  }
}

TEST(KivPrompt, TwoQuestionsAreAnsweredInOrder) {
  KivRunOptions options;
  options.prompts = 2;
  KivRun run(options);
  TmuxSession& tmux = run.tmux();
  ASSERT_NO_FATAL_FAILURE(type_keys(tmux, {"Down", "Enter"}));
  // The second list is drawn only once the first answer has gone out.
  ASSERT_TRUE(TmuxSession::wait_until([&] { return count_of(tmux.stream(), HIDE) == 2; }));
  ASSERT_NO_FATAL_FAILURE(type_keys(tmux, {"Enter"}));
  ASSERT_TRUE(run.wait());
  EXPECT_EQ(run.answers(), (std::vector<int>{1, 0}));
  EXPECT_EQ(run.status(), "0\n");
  EXPECT_EQ(top(tmux.screen(), 6),
            (std::vector<std::string>{
                "Configure default behavior for kiv <path>",
                "You can change this later in Kiv settings: Open a new window (kiv --classic)",
                "Configure default behavior for kiv <path>",
                "You can change this later in Kiv settings: Add to existing Kiv window (kiv --exi",
                "sting)",
                "",
            }));
  EXPECT_TRUE(tmux.cursor_visible());
}

// Output processing is switched off in the window, so the recorded stream is
// byte for byte what kiv wrote; the editor sends nothing to relay.
TEST(KivPrompt, BytesWrittenAreTheListsStreams) {
  struct Case {
    const char* name;
    unsigned short rows;
    std::string env;
    std::string redirections;
    std::vector<std::string> keys;
    const std::string& stream;
    int answer;
  };
  const Case cases[] = {
      {"colour, Down Enter", 24, "", "", {"Down", "Enter"}, COLOUR_DOWN_ENTER, 1},
      {"colour, Enter", 24, "", "", {"Enter"}, COLOUR_ENTER, 0},
      {"NO_COLOR, Down Enter", 24, "NO_COLOR=1", "", {"Down", "Enter"}, PLAIN_DOWN_ENTER, 1},
      {"NO_COLOR, Enter", 24, "NO_COLOR=1", "", {"Enter"}, PLAIN_ENTER, 0},
      {"TERM=dumb", 24, "TERM=dumb", "", {"Enter"}, PLAIN_ENTER, 0},
      {"CLICOLOR=0", 24, "CLICOLOR=0", "", {"Enter"}, PLAIN_ENTER, 0},
      {"standard output to a file", 24, "", " > out.txt", {"Enter"}, PLAIN_ENTER, 0},
      {"standard output to a file, CLICOLOR_FORCE=1", 24, "CLICOLOR_FORCE=1", " > out.txt", {"Enter"}, COLOUR_ENTER,
       0},
      {"NO_COLOR overridden by CLICOLOR_FORCE=1", 24, "NO_COLOR=1 CLICOLOR_FORCE=1", "", {"Down", "Enter"},
       COLOUR_DOWN_ENTER, 1},
      {"3 rows, Down Enter", 3, "NO_COLOR=1", "", {"Down", "Enter"}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"3 rows, Enter", 3, "NO_COLOR=1", "", {"Enter"}, PLAIN_PAGED_ENTER, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KivRunOptions options;
    options.rows = c.rows;
    options.env = c.env;
    options.redirections = c.redirections;
    options.before = "stty -opost;";
    KivRun run(options);
    ASSERT_NO_FATAL_FAILURE(type_keys(run.tmux(), c.keys));
    ASSERT_TRUE(run.wait());
    EXPECT_EQ(run.tmux().stream(), c.stream);
    EXPECT_EQ(run.answers(), std::vector<int>{c.answer});
    EXPECT_EQ(run.status(), "0\n");
  }
}

TEST(KivPrompt, ThreeRowsPageAndLeftRightSwitchThePage) {
  KivRunOptions options;
  options.rows = 3;
  KivRun run(options);
  TmuxSession& tmux = run.tmux();
  const std::vector<std::string>& page1 = PAGE_1_SHOWN;
  const std::vector<std::string>& page2 = PAGE_2_SHOWN;
  ASSERT_TRUE(tmux.wait_for_raw_mode());
  EXPECT_EQ(tmux.screen(), page1);
  struct Step {
    const char* key;
    const std::vector<std::string>& shown;
  };
  const Step steps[] = {{"Right", page2}, {"Right", page1}, {"Left", page2}, {"Left", page1}, {"Left", page2}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.key);
    ASSERT_TRUE(tmux.press(step.key));
    ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == step.shown; })) << tmux.screen()[0];
  }
  ASSERT_TRUE(tmux.press_last("Enter"));
  ASSERT_TRUE(run.wait());
  EXPECT_EQ(run.answers(), std::vector<int>{1});
  EXPECT_EQ(tmux.screen()[1], "You can change this later in Kiv settings: Open a new window (kiv --classic)");
  EXPECT_TRUE(tmux.cursor_visible());
  EXPECT_TRUE(run.mode_unchanged());
}

TEST(KivPrompt, NoTerminalToDrawOnAnswersTheExistingWindow) {
  struct Case {
    const char* name;
    std::string redirections;
  };
  const Case cases[] = {
      {"standard error to a file", " 2> err.txt"},
      {"standard input from /dev/null", " < /dev/null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KivRunOptions options;
    options.redirections = c.redirections;
    KivRun run(options);
    ASSERT_TRUE(run.wait());
    EXPECT_EQ(run.answers(), std::vector<int>{0});
    EXPECT_EQ(run.status(), "0\n");
    EXPECT_EQ(run.tmux().stream(), "");
    EXPECT_EQ(run.tmux().screen(), std::vector<std::string>(24, ""));
    if (c.redirections.find("err.txt") != std::string::npos) {
      EXPECT_TRUE(std::filesystem::exists(run.sub("err.txt")));
      EXPECT_EQ(testing::read_file(run.sub("err.txt")), "");
    }
  }
}

TEST(KivPrompt, CtrlCEndsKivByInterruptAndRestoresTheTerminal) {
  KivRun run({});
  TmuxSession& tmux = run.tmux();
  ASSERT_TRUE(tmux.wait_for_raw_mode());
  EXPECT_FALSE(tmux.cursor_visible());
  ASSERT_TRUE(tmux.press_last("C-c"));
  ASSERT_TRUE(run.wait());
  EXPECT_EQ(run.status(), "130\n");  // 128 + SIGINT
  EXPECT_EQ(run.answers(), std::vector<int>{});
  EXPECT_TRUE(run.mode_unchanged());
  const std::string mode = testing::read_file(run.sub("stty.after"));
  for (const char* flag : {"icanon", "echo", "isig", "icrnl", "ixon", "opost"}) {
    EXPECT_TRUE(testing::has_word(mode, flag)) << flag << " in " << mode;
  }
  EXPECT_TRUE(tmux.cursor_visible());
  EXPECT_TRUE(tmux.stream().ends_with(SHOW));
  // The list stays where it was drawn; nothing is written over it.
  EXPECT_EQ(top(tmux.screen(), LIST_SHOWN.size()), LIST_SHOWN);
  EXPECT_EQ(tmux.screen()[LIST_SHOWN.size()], "");
  // The editor learns that kiv has gone and ends its session by itself.
  ASSERT_TRUE(TmuxSession::wait_until([&] {
    for (const json& event : run.record()) {
      if (event["event"] == "session_end") return true;
    }
    return false;
  }));
}

TEST(KivPrompt, TerminatingSignalWhileWaitingRestoresTheTerminal) {
  struct Case {
    int signo;
    const char* status;
  };
  const Case cases[] = {{SIGTERM, "143\n"}, {SIGHUP, "129\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::strsignal(c.signo));
    KivRun run({});
    TmuxSession& tmux = run.tmux();
    ASSERT_TRUE(tmux.wait_for_raw_mode());
    const pid_t pid = run.pid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, c.signo), 0);
    ASSERT_TRUE(run.wait());
    EXPECT_EQ(run.status(), c.status);
    EXPECT_EQ(run.answers(), std::vector<int>{});
    EXPECT_TRUE(run.mode_unchanged());
    EXPECT_TRUE(tmux.cursor_visible());
  }
}

}  // namespace
}  // namespace kiv
