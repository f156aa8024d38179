// The selection list run on a pseudo-terminal through the test driver: the
// exact bytes written to standard error, the keys, paging, resizing, and
// what the terminal is left in after every way the list can end.
#include "prompt/select.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "open_behavior_reference.hpp"
#include "pty_session.hpp"
#include "test_support.hpp"

namespace kiv {
namespace {

using testing::PtyOptions;
using testing::PtySession;
using testing::ScopedTempDir;
using namespace testing::reference;

const std::string HIDE = "\x1b[?25l";
const std::string SHOW = "\x1b[?25h";
const std::string DOWN = "\x1b[B";
const std::string UP = "\x1b[A";
const std::string RIGHT = "\x1b[C";
const std::string LEFT = "\x1b[D";
const std::string ENTER = "\r";

std::string blue(const std::string& text, bool colour) { return colour ? "\x1b[34m" + text + "\x1b[0m" : text; }

struct Texts {
  std::string prompt;
  std::string items[2];
};

Texts texts(bool colour) {
  return {"Configure default behavior for " + blue("kiv <path>", colour) + "\nYou can change this later in Kiv settings",
          {"Add to existing Kiv window (" + blue("kiv --existing", colour) + ")",
           "Open a new window (" + blue("kiv --classic", colour) + ")"}};
}

std::string clear_lines(size_t n) {
  std::string out = "\x1b[" + std::to_string(n) + "A";
  for (size_t i = 0; i < n; ++i) out += "\r\x1b[2K\x1b[1B";
  return out + "\x1b[" + std::to_string(n) + "A";
}

std::string item_lines(const Texts& t, size_t selected) {
  return (selected == 0 ? "> " : "  ") + t.items[0] + "\n" + (selected == 1 ? "> " : "  ") + t.items[1] + "\n";
}

std::string result_line(const Texts& t, size_t chosen) { return t.prompt + ": " + t.items[chosen] + "\n"; }

// The unpaged stream: first drawing, one redraw per entry of `redraws` (the
// highlight after that key), the choice of `chosen`.
std::string stream(const Texts& t, const std::vector<size_t>& redraws, size_t chosen, size_t redraw_clear = 2) {
  std::string out = HIDE + t.prompt + ":\n" + item_lines(t, 0);
  for (size_t selected : redraws) out += clear_lines(redraw_clear) + item_lines(t, selected);
  return out + clear_lines(4) + result_line(t, chosen) + SHOW;
}

std::string paged_prompt(const Texts& t, int page) { return t.prompt + ": [Page " + std::to_string(page) + "/2] \n"; }

std::string with_colour(std::string plain) {
  for (std::string word : {"kiv <path>", "kiv --existing", "kiv --classic"}) {
    for (size_t at = plain.find(word); at != std::string::npos; at = plain.find(word, at + word.size() + 9)) {
      plain.replace(at, word.size(), blue(word, true));
    }
  }
  return plain;
}

bool same_mode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

std::string status_text(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + ::strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

struct Ending {
  std::string output;
  std::string answers;
  int status = -1;
  bool mode_restored = false;
};

class SelectTest : public ::testing::Test {
 protected:
  // The driver on a terminal of `rows` x `columns`, asking through the
  // selection list alone unless `args` says otherwise.
  PtyOptions driver(bool colour = true, std::vector<std::string> args = {"--select-only"}) {
    PtyOptions options;
    options.argv = {PROMPT_DRIVER_PATH, "--out", answers_path()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = testing::kiv_env(home_.path());
    options.env["TERM"] = "xterm-256color";
    if (!colour) options.env["NO_COLOR"] = "1";
    return options;
  }
  std::string answers_path() const { return home_.sub("answers"); }

  // Types each key in turn (the last one ends the list) and waits for the end.
  Ending run(const PtyOptions& options, const std::vector<std::string>& keys) {
    PtySession session(options);
    for (size_t i = 0; i + 1 < keys.size(); ++i) EXPECT_TRUE(session.type(keys[i])) << "key " << i << " not taken";
    if (!keys.empty()) {
      EXPECT_TRUE(session.type_last(keys.back()));
    }
    return finish(session);
  }
  Ending finish(PtySession& session) {
    Ending ending;
    std::optional<int> status = session.wait_exit();
    EXPECT_TRUE(status) << "the driver did not end";
    ending.status = status.value_or(-1);
    ending.output = session.output();
    ending.answers = testing::read_file(answers_path());
    ending.mode_restored = same_mode(session.mode(), session.initial_mode());
    std::remove(answers_path().c_str());
    return ending;
  }

  ScopedTempDir home_;
};

TEST_F(SelectTest, KeysGiveTheReferenceStreamsAt80x24) {
  const Texts colour = texts(true), plain = texts(false);
  ASSERT_EQ(COLOUR_DOWN_ENTER, stream(colour, {1}, 1));
  ASSERT_EQ(COLOUR_ENTER, stream(colour, {}, 0));
  ASSERT_EQ(PLAIN_DOWN_ENTER, stream(plain, {1}, 1));
  ASSERT_EQ(PLAIN_ENTER, stream(plain, {}, 0));
  struct Case {
    const char* name;
    bool colour;
    std::vector<std::string> keys;
    std::string expected;
    size_t chosen;
  };
  const std::string ignored = stream(colour, {0}, 0);
  const Case cases[] = {
      {"Down Enter", true, {DOWN, ENTER}, COLOUR_DOWN_ENTER, 1},
      {"Enter", true, {ENTER}, COLOUR_ENTER, 0},
      {"Down Enter without colour", false, {DOWN, ENTER}, PLAIN_DOWN_ENTER, 1},
      {"Enter without colour", false, {ENTER}, PLAIN_ENTER, 0},
      {"Space", true, {" "}, COLOUR_ENTER, 0},
      {"Down Space", true, {DOWN, " "}, COLOUR_DOWN_ENTER, 1},
      {"LF as Enter", true, {"\n"}, COLOUR_ENTER, 0},
      {"Down Down wraps", false, {DOWN, DOWN, ENTER}, stream(plain, {1, 0}, 0), 0},
      {"Tab", true, {"\t", ENTER}, COLOUR_DOWN_ENTER, 1},
      {"j", true, {"j", ENTER}, COLOUR_DOWN_ENTER, 1},
      {"Up wraps to the last", true, {UP, ENTER}, COLOUR_DOWN_ENTER, 1},
      {"Shift-Tab", true, {"\x1b[Z", ENTER}, COLOUR_DOWN_ENTER, 1},
      {"k", true, {"k", ENTER}, COLOUR_DOWN_ENTER, 1},
      {"Down k", false, {DOWN, "k", ENTER}, stream(plain, {1, 0}, 0), 0},
      {"Escape", true, {"\x1b", ENTER}, ignored, 0},
      {"q", true, {"q", ENTER}, ignored, 0},
      {"Q J K x", true, {"Q", "J", "K", "x", ENTER}, stream(colour, {0, 0, 0, 0}, 0), 0},
      {"Left and Right without pages", true, {LEFT, RIGHT, "h", "l", ENTER}, stream(colour, {0, 0, 0, 0}, 0), 0},
      {"Delete, Home, Backspace, e acute", true, {"\x1b[3~", "\x1b[H", "\x7f", "\xc3\xa9", ENTER},
       stream(colour, {0, 0, 0, 0}, 0), 0},
      {"Ctrl-Z and Ctrl-\\ are plain keys", true, {"\x1a", "\x1c", ENTER}, stream(colour, {0, 0}, 0), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ending ending = run(driver(c.colour), c.keys);
    EXPECT_EQ(ending.output, c.expected);
    EXPECT_EQ(ending.answers, "selected " + std::to_string(c.chosen) + "\n");
    EXPECT_EQ(status_text(ending.status), "exit 0");
    EXPECT_TRUE(ending.mode_restored);
  }
}

TEST_F(SelectTest, ColourFollowsStandardOutputNotStandardError) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    bool stdout_to_file;
    std::string expected;
  };
  const Case cases[] = {
      {"terminal", {}, false, COLOUR_ENTER},
      {"NO_COLOR", {{"NO_COLOR", "1"}}, false, PLAIN_ENTER},
      {"NO_COLOR not UTF-8 counts as absent", {{"NO_COLOR", "\xff"}}, false, COLOUR_ENTER},
      {"TERM dumb", {{"TERM", "dumb"}}, false, PLAIN_ENTER},
      {"standard output redirected", {}, true, PLAIN_ENTER},
      {"standard output redirected, CLICOLOR_FORCE=1", {{"CLICOLOR_FORCE", "1"}}, true, COLOUR_ENTER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyOptions options = driver();
    for (const auto& [key, value] : c.env) options.env[key] = value;
    if (c.stdout_to_file) options.stdout_file = home_.sub("stdout");
    Ending ending = run(options, {ENTER});
    EXPECT_EQ(ending.output, c.expected);
    EXPECT_EQ(ending.answers, "selected 0\n");
    if (c.stdout_to_file) {
      EXPECT_EQ(testing::read_file(home_.sub("stdout")), "");
    }
  }
}

TEST_F(SelectTest, RedrawClearsLinesOfLongItemsCountedInBytes) {
  // Wrapped items are counted by their bytes, colour escapes included: with
  // colour, item 0 is 52 bytes and item 1 42, without 43 and 33.
  struct Case {
    unsigned short columns;
    bool colour;
    size_t cleared;
  };
  const Case cases[] = {
      {80, true, 2}, {52, true, 2}, {51, true, 3}, {50, true, 3}, {42, true, 3}, {41, true, 4}, {30, true, 4},
      {43, false, 2}, {42, false, 3}, {33, false, 3}, {32, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + (c.colour ? " columns, colour" : " columns, plain"));
    PtyOptions options = driver(c.colour);
    options.columns = c.columns;
    Ending ending = run(options, {DOWN, ENTER});
    EXPECT_EQ(ending.output, stream(texts(c.colour), {1}, 1, c.cleared));
    EXPECT_EQ(ending.answers, "selected 1\n");
  }
}

TEST_F(SelectTest, ThreeRowsShowOnePageAtATime) {
  ASSERT_EQ(with_colour(PLAIN_PAGED_DOWN_ENTER).size(), 531u);
  ASSERT_EQ(with_colour(PLAIN_PAGED_ENTER).size(), 355u);
  struct Case {
    const char* name;
    bool colour;
    std::vector<std::string> keys;
    std::string expected;  // empty: not checked
    size_t chosen;
  };
  const Case cases[] = {
      {"Down Enter", false, {DOWN, ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"Enter", false, {ENTER}, PLAIN_PAGED_ENTER, 0},
      {"Down Enter, colour", true, {DOWN, ENTER}, with_colour(PLAIN_PAGED_DOWN_ENTER), 1},
      {"Enter, colour", true, {ENTER}, with_colour(PLAIN_PAGED_ENTER), 0},
      {"Right", false, {RIGHT, ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"l", false, {"l", ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"Left wraps to the last page", false, {LEFT, ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"h", false, {"h", ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"Up", false, {UP, ENTER}, PLAIN_PAGED_DOWN_ENTER, 1},
      {"Right Right wraps to the first page", false, {RIGHT, RIGHT, ENTER}, "", 0},
      {"Right Left", false, {RIGHT, LEFT, ENTER}, "", 0},
      {"Right Down", false, {RIGHT, DOWN, ENTER}, "", 0},
  };
  const Texts plain = texts(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyOptions options = driver(c.colour);
    options.rows = 3;
    Ending ending = run(options, c.keys);
    if (!c.expected.empty()) {
      EXPECT_EQ(ending.output, c.expected);
    }
    EXPECT_EQ(ending.answers, "selected " + std::to_string(c.chosen) + "\n");
    if (c.expected.empty()) {
      // Every pass redraws the paged prompt and the one item of its page.
      EXPECT_EQ(testing::count_of(ending.output, ": [Page 1/2] \n> " + plain.items[0] + "\n"), 2u) << ending.output;
      EXPECT_EQ(testing::count_of(ending.output, ": [Page 2/2] \n> " + plain.items[1] + "\n"), 1u) << ending.output;
    }
  }
}

TEST_F(SelectTest, SizeIsReadAgainAfterEachKey) {
  const Texts t = texts(false);
  {
    SCOPED_TRACE("24 rows shrunk to 3");
    PtySession session(driver(false));
    ASSERT_TRUE(session.wait_for_raw_mode());
    session.resize(3, 80);
    ASSERT_TRUE(session.type(DOWN));
    ASSERT_TRUE(session.type_last(ENTER));
    Ending ending = finish(session);
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + clear_lines(1) + clear_lines(4) +
                                 paged_prompt(t, 2) + "> " + t.items[1] + "\n" + clear_lines(3) + result_line(t, 1) +
                                 SHOW);
    EXPECT_EQ(ending.answers, "selected 1\n");
  }
  {
    SCOPED_TRACE("3 rows grown to 24");
    PtyOptions options = driver(false);
    options.rows = 3;
    PtySession session(options);
    ASSERT_TRUE(session.wait_for_raw_mode());
    session.resize(24, 80);
    ASSERT_TRUE(session.type(DOWN));
    ASSERT_TRUE(session.type_last(ENTER));
    Ending ending = finish(session);
    EXPECT_EQ(ending.output, HIDE + paged_prompt(t, 1) + "> " + t.items[0] + "\n" + clear_lines(22) + clear_lines(1) +
                                 t.prompt + ":\n" + item_lines(t, 1) + clear_lines(4) + result_line(t, 1) + SHOW);
    EXPECT_EQ(ending.answers, "selected 1\n");
  }
  {
    SCOPED_TRACE("shrunk below three rows while shown");
    PtySession session(driver(false));
    ASSERT_TRUE(session.wait_for_raw_mode());
    session.resize(2, 80);
    ASSERT_TRUE(session.type_last(DOWN));
    Ending ending = finish(session);
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + SHOW);
    EXPECT_EQ(ending.answers, "error: terminal too small\n");
    EXPECT_TRUE(ending.mode_restored);
  }
}

TEST_F(SelectTest, RawOnlyForInputAndOnlyWhileWaiting) {
  PtyOptions options = driver();
  options.output_processing = true;
  PtySession session(options);
  ASSERT_TRUE(session.wait_for_raw_mode());
  const termios before = session.initial_mode();
  ASSERT_TRUE(before.c_oflag & OPOST);
  ASSERT_TRUE(before.c_lflag & ECHOCTL);
  const termios raw = session.mode();
  EXPECT_EQ(raw.c_oflag, before.c_oflag);  // output processing untouched
  for (tcflag_t off : std::initializer_list<tcflag_t>{ICANON, ECHO, ECHONL, ISIG, IEXTEN}) EXPECT_EQ(raw.c_lflag & off, 0u) << std::hex << off;
  for (tcflag_t kept : std::initializer_list<tcflag_t>{ECHOE, ECHOK, ECHOCTL, ECHOKE}) EXPECT_EQ(raw.c_lflag & kept, before.c_lflag & kept) << kept;
  for (tcflag_t off : std::initializer_list<tcflag_t>{IGNBRK, BRKINT, PARMRK, ISTRIP, INLCR, IGNCR, ICRNL, IXON}) {
    EXPECT_EQ(raw.c_iflag & off, 0u) << std::hex << off;
  }
  for (tcflag_t kept : std::initializer_list<tcflag_t>{IXOFF, IUTF8}) EXPECT_EQ(raw.c_iflag & kept, before.c_iflag & kept) << kept;
  EXPECT_EQ(raw.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(raw.c_cc[VMIN], 1);
  EXPECT_EQ(raw.c_cc[VTIME], 0);
  ASSERT_TRUE(session.type_last(ENTER));
  Ending ending = finish(session);
  EXPECT_EQ(ending.answers, "selected 0\n");
  EXPECT_TRUE(ending.mode_restored);
}

TEST_F(SelectTest, ZeroSizeIsDrawnAs80x24) {
  PtyOptions options = driver();
  options.rows = 0;
  options.columns = 0;
  Ending ending = run(options, {DOWN, ENTER});
  EXPECT_EQ(ending.output, COLOUR_DOWN_ENTER);
}

TEST_F(SelectTest, EscapeSequencesBeyondFourBytesAreFurtherKeys) {
  struct Case {
    const char* name;
    std::string bytes;
    size_t keys;
  };
  const Case cases[] = {
      {"Ctrl-Up", "\x1b[1;5A", 3}, {"F1", "\x1bOP", 2},       {"F5", "\x1b[15~", 2},
      {"Delete", "\x1b[3~", 1},     {"application-mode Down", "\x1bOB", 2}, {"Alt-x", "\x1bx", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtySession session(driver());
    ASSERT_TRUE(session.type(c.bytes, c.keys));
    ASSERT_TRUE(session.type_last(ENTER));
    Ending ending = finish(session);
    EXPECT_EQ(ending.answers, "selected 0\n");
    EXPECT_EQ(testing::count_of(ending.output, "> "), c.keys + 1);
  }
}

TEST_F(SelectTest, TwoListsInOneProcessDrawTheSameBytes) {
  PtySession session(driver(true, {"--select-only", "--count", "2"}));
  ASSERT_TRUE(session.type(DOWN));
  ASSERT_TRUE(session.type_last(ENTER));
  ASSERT_TRUE(session.wait_until([&] { return session.output().size() >= COLOUR_DOWN_ENTER.size(); }));
  ASSERT_TRUE(session.type_last(ENTER));
  Ending ending = finish(session);
  EXPECT_EQ(ending.output, COLOUR_DOWN_ENTER + COLOUR_ENTER);
  EXPECT_EQ(ending.answers, "selected 1\nselected 0\n");
}

TEST_F(SelectTest, NothingIsDrawnWhereTheListCannotBeShown) {
  struct Case {
    const char* name;
    unsigned short rows;
    bool stderr_to_file;
    bool stdin_on_terminal;
    std::vector<std::string> args;
    std::string answers;
  };
  const Case cases[] = {
      {"standard error redirected", 24, true, true, {"--select-only"}, "error: not a terminal\n"},
      {"two rows", 2, false, true, {"--select-only"}, "error: terminal too small\n"},
      {"one row", 1, false, true, {"--select-only"}, "error: terminal too small\n"},
      {"asked with standard error redirected", 24, true, true, {}, "0\n"},
      {"asked on two rows", 2, false, true, {}, "0\n"},
      {"asked with standard input redirected", 24, false, false, {}, "0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyOptions options = driver(true, c.args);
    options.rows = c.rows;
    options.stdin_on_terminal = c.stdin_on_terminal;
    if (c.stderr_to_file) options.stderr_file = home_.sub("stderr");
    Ending ending = run(options, {});
    EXPECT_EQ(ending.output, "");
    EXPECT_EQ(ending.answers, c.answers);
    EXPECT_EQ(status_text(ending.status), "exit 0");
    EXPECT_TRUE(ending.mode_restored);
    if (c.stderr_to_file) {
      EXPECT_EQ(testing::read_file(home_.sub("stderr")), "");
    }
  }
}

TEST_F(SelectTest, FailedKeyReadShowsTheCursorAgain) {
  // No controlling terminal and standard input not one: the key is read
  // from /dev/tty, which cannot be opened, after the list is drawn.
  for (bool select_only : {true, false}) {
    SCOPED_TRACE(select_only ? "selection list" : "asked");
    PtyOptions options = driver(true, select_only ? std::vector<std::string>{"--select-only"}
                                                  : std::vector<std::string>{});
    options.controlling_terminal = false;
    options.stdin_on_terminal = false;
    Ending ending = run(options, {});
    if (select_only) {
      EXPECT_EQ(ending.output, HIDE + texts(true).prompt + ":\n" + item_lines(texts(true), 0) + SHOW);
      EXPECT_EQ(ending.answers, "error: No such device or address (os error 6)\n");
    } else {
      // Asking needs standard input on a terminal, so nothing is drawn.
      EXPECT_EQ(ending.output, "");
      EXPECT_EQ(ending.answers, "0\n");
    }
    EXPECT_EQ(status_text(ending.status), "exit 0");
  }
}

TEST_F(SelectTest, CtrlCEndsByInterruptWithTheTerminalRestored) {
  const Texts t = texts(true);
  {
    SCOPED_TRACE("at once");
    Ending ending = run(driver(), {"\x03"});
    EXPECT_EQ(status_text(ending.status), "signal Interrupt");
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + SHOW);
    EXPECT_EQ(ending.answers, "");
    EXPECT_TRUE(ending.mode_restored);
  }
  {
    SCOPED_TRACE("after a move, asked");
    Ending ending = run(driver(true, {}), {DOWN, "\x03"});
    EXPECT_EQ(status_text(ending.status), "signal Interrupt");
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + clear_lines(2) + item_lines(t, 1) + SHOW);
    EXPECT_TRUE(ending.mode_restored);
  }
  {
    SCOPED_TRACE("inside an escape sequence");
    Ending ending = run(driver(), {"\x1b[\x03"});
    EXPECT_EQ(status_text(ending.status), "signal Interrupt");
    EXPECT_TRUE(ending.output.ends_with(SHOW));
    EXPECT_TRUE(ending.mode_restored);
  }
  {
    SCOPED_TRACE("SIGINT ignored");
    Ending ending = run(driver(true, {"--select-only", "--ignore-sigint"}), {"\x03"});
    EXPECT_EQ(status_text(ending.status), "exit 0");
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + SHOW);
    EXPECT_EQ(ending.answers, "error: read interrupted\n");
    EXPECT_TRUE(ending.mode_restored);
  }
  {
    SCOPED_TRACE("SIGINT ignored, asked");
    Ending ending = run(driver(true, {"--ignore-sigint"}), {"\x03"});
    EXPECT_EQ(ending.answers, "0\n");
  }
}

TEST_F(SelectTest, TerminatingSignalWhileWaitingRestoresTheTerminal) {
  const Texts t = texts(true);
  for (int signo : {SIGTERM, SIGHUP, SIGINT, SIGUSR2, SIGALRM}) {
    SCOPED_TRACE(::strsignal(signo));
    PtySession session(driver());
    ASSERT_TRUE(session.wait_for_raw_mode());
    ASSERT_EQ(::kill(session.pid(), signo), 0);
    Ending ending = finish(session);
    EXPECT_EQ(status_text(ending.status), std::string("signal ") + ::strsignal(signo));
    EXPECT_EQ(ending.output, HIDE + t.prompt + ":\n" + item_lines(t, 0) + SHOW);
    EXPECT_TRUE(ending.mode_restored);
  }
}

// Whether `pid` has no signal pending, as /proc shows it.
bool nothing_pending(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  bool any = false;
  while (std::getline(status, line)) {
    if (line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) {
      any |= line.find_first_not_of("0\t ", 7) != std::string::npos;
    }
  }
  return !any;
}

TEST_F(SelectTest, CaughtSignalDoesNotEndTheList) {
  PtySession session(driver(true, {"--select-only", "--catch-usr1"}));
  ASSERT_TRUE(session.wait_for_raw_mode());
  ASSERT_EQ(::kill(session.pid(), SIGUSR1), 0);
  ASSERT_TRUE(session.wait_until([&] { return nothing_pending(session.pid()); }));
  ASSERT_TRUE(session.type_last(ENTER));
  Ending ending = finish(session);
  EXPECT_EQ(status_text(ending.status), "exit 0");
  EXPECT_EQ(ending.output, COLOUR_ENTER);
  EXPECT_EQ(ending.answers, "selected 0\n");
}

}  // namespace
}  // namespace kiv
