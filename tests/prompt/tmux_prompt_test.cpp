// The open-behaviour question asked in a real terminal, typed at as a user
// would: the answers, what the screen shows, and the terminal afterwards.
#include <gtest/gtest.h>


#include "test_support.hpp"
#include "open_behavior_reference.hpp"
#include "tmux_session.hpp"

namespace kiv {
namespace {

using testing::ScopedTempDir;
using testing::shell_quote;
using testing::TmuxSession;

const std::vector<std::string>& PROMPT_SHOWN = testing::reference::LIST_SHOWN;

class TmuxPromptTest : public ::testing::Test {
 protected:
  // The shell command that asks once and records the answer, with `extra`
  // (redirections) appended.
  std::string ask(const std::string& extra = "") const {
    return shell_quote(PROMPT_DRIVER_PATH) + " --out " + shell_quote(answer_path()) + extra;
  }
  std::string answer_path() const { return dir_.sub("answer"); }
  std::string answer() const { return testing::read_file(answer_path()); }

  // The first `n` screen lines.
  static std::vector<std::string> top(std::vector<std::string> lines, size_t n) {
    lines.resize(n);
    return lines;
  }

  ScopedTempDir dir_;
};

TEST_F(TmuxPromptTest, KeysChooseAsTyped) {
  struct Case {
    std::vector<std::string> keys;  // the last one chooses
    const char* answer;
  };
  const Case cases[] = {
      {{"Down", "Enter"}, "1\n"},
      {{"Enter"}, "0\n"},
      {{"Down", "Down", "Enter"}, "0\n"},
      {{"Tab", "Enter"}, "1\n"},
      {{"j", "Enter"}, "1\n"},
      {{"Up", "Enter"}, "1\n"},
      {{"k", "Enter"}, "1\n"},
      {{"BTab", "Enter"}, "1\n"},
      {{"Down", "k", "Enter"}, "0\n"},
      {{"Down", "BTab", "Enter"}, "0\n"},
      {{"Space"}, "0\n"},
      {{"Down", "Space"}, "1\n"},
      {{"Escape", "q", "Enter"}, "0\n"},
      {{"Down", "Escape", "q", "Enter"}, "1\n"},
      {{"Left", "Right", "h", "l", "Enter"}, "0\n"},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& key : c.keys) name += key + " ";
    SCOPED_TRACE(name);
    ScopedTempDir run_dir;
    TmuxSession tmux(run_dir.path(), 24, 80, ask());
    for (size_t i = 0; i + 1 < c.keys.size(); ++i) ASSERT_TRUE(tmux.press(c.keys[i]));
    ASSERT_TRUE(tmux.press_last(c.keys.back()));
    ASSERT_TRUE(tmux.wait_for_command());
    EXPECT_EQ(answer(), c.answer);
    std::remove(answer_path().c_str());
  }
}

TEST_F(TmuxPromptTest, ScreenShowsTheListThenTheChoice) {
  {
    SCOPED_TRACE("Down Enter");
    TmuxSession tmux(dir_.path(), 24, 80, ask());
    ASSERT_TRUE(tmux.wait_for_raw_mode());
    EXPECT_EQ(top(tmux.screen(), 5), (std::vector<std::string>{PROMPT_SHOWN[0], PROMPT_SHOWN[1], PROMPT_SHOWN[2],
                                                                 PROMPT_SHOWN[3], ""}));
    EXPECT_FALSE(tmux.cursor_visible());
    ASSERT_TRUE(tmux.press("Down"));
    ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen()[3] == "> Open a new window (kiv --classic)"; }));
    EXPECT_EQ(tmux.screen()[2], "  Add to existing Kiv window (kiv --existing)");
    ASSERT_TRUE(tmux.press_last("Enter"));
    ASSERT_TRUE(tmux.wait_for_command());
    EXPECT_EQ(answer(), "1\n");
    EXPECT_EQ(top(tmux.screen(), 4),
              (std::vector<std::string>{"Configure default behavior for kiv <path>",
                                        "You can change this later in Kiv settings: Open a new window (kiv --classic)",
                                        "", ""}));
    EXPECT_TRUE(tmux.cursor_visible());
  }
  std::remove(answer_path().c_str());
  {
    SCOPED_TRACE("Enter: the result line wraps at 80 columns");
    ScopedTempDir run_dir;
    TmuxSession tmux(run_dir.path(), 24, 80, ask());
    ASSERT_TRUE(tmux.press_last("Enter"));
    ASSERT_TRUE(tmux.wait_for_command());
    EXPECT_EQ(answer(), "0\n");
    EXPECT_EQ(top(tmux.screen(), 4),
              (std::vector<std::string>{
                  "Configure default behavior for kiv <path>",
                  "You can change this later in Kiv settings: Add to existing Kiv window (kiv --exi", "sting)", ""}));
    EXPECT_TRUE(tmux.cursor_visible());
  }
}

TEST_F(TmuxPromptTest, ThreeRowsPageWithLeftAndRight) {
  TmuxSession tmux(dir_.path(), 3, 80, ask());
  const std::vector<std::string>& page1 = testing::reference::PAGE_1_SHOWN;
  const std::vector<std::string>& page2 = testing::reference::PAGE_2_SHOWN;
  ASSERT_TRUE(tmux.wait_for_raw_mode());
  EXPECT_EQ(tmux.screen(), page1);
  ASSERT_TRUE(tmux.press("Right"));
  ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == page2; })) << tmux.screen()[0];
  ASSERT_TRUE(tmux.press("Left"));
  ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == page1; })) << tmux.screen()[0];
  ASSERT_TRUE(tmux.press("l"));
  ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == page2; })) << tmux.screen()[0];
  ASSERT_TRUE(tmux.press("l"));
  ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == page1; })) << tmux.screen()[0];
  ASSERT_TRUE(tmux.press("h"));
  ASSERT_TRUE(TmuxSession::wait_until([&] { return tmux.screen() == page2; })) << tmux.screen()[0];
  ASSERT_TRUE(tmux.press_last("Enter"));
  ASSERT_TRUE(tmux.wait_for_command());
  EXPECT_EQ(answer(), "1\n");
  EXPECT_EQ(tmux.screen()[1], "You can change this later in Kiv settings: Open a new window (kiv --classic)");
  EXPECT_TRUE(tmux.cursor_visible());
}

TEST_F(TmuxPromptTest, StandardErrorRedirectedDrawsNothing) {
  TmuxSession tmux(dir_.path(), 24, 80, ask(" 2> " + shell_quote(dir_.sub("stderr"))));
  ASSERT_TRUE(tmux.wait_for_command());
  EXPECT_EQ(answer(), "0\n");
  EXPECT_EQ(testing::read_file(dir_.sub("stderr")), "");
  EXPECT_EQ(tmux.screen(), std::vector<std::string>(24, ""));
  EXPECT_EQ(tmux.stream(), "");
}

TEST_F(TmuxPromptTest, CtrlCEndsByInterruptAndLeavesTheTerminalAsItWas) {
  const std::string before = dir_.sub("stty.before"), after = dir_.sub("stty.after");
  TmuxSession tmux(dir_.path(), 24, 80,
                   "stty -a > " + shell_quote(before) + "; " + ask() + "; echo $? > " +
                       shell_quote(dir_.sub("status")) + "; stty -a > " + shell_quote(after));
  ASSERT_TRUE(tmux.wait_for_raw_mode());
  EXPECT_FALSE(tmux.cursor_visible());
  ASSERT_TRUE(tmux.press_last("C-c"));
  ASSERT_TRUE(tmux.wait_for_command());
  EXPECT_EQ(testing::read_file(dir_.sub("status")), "130\n");  // ended by SIGINT
  EXPECT_EQ(answer(), "");
  const std::string mode = testing::read_file(after);
  EXPECT_EQ(mode, testing::read_file(before));
  for (const char* flag : {"icanon", "echo", "isig", "icrnl", "ixon"}) {
    EXPECT_TRUE(testing::has_word(mode, flag)) << flag << " in " << mode;
  }
  EXPECT_TRUE(tmux.cursor_visible());
  // The list stays where it was drawn.
  EXPECT_EQ(top(tmux.screen(), 4), PROMPT_SHOWN);
}

}  // namespace
}  // namespace kiv
