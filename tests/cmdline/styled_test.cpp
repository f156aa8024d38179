#include "cmdline/styled.hpp"

#include <gtest/gtest.h>

namespace kiv::cmdline {
namespace {

TEST(PushStyled, PlainPiecesCarryNoEscape) {
  std::string out;
  push_styled(out, Style::Plain, "<DIR>");
  push_styled(out, Style::Literal, "--wait");
  push_styled(out, Style::Error, "error:");
  EXPECT_EQ(out, "<DIR>\x1b[1m--wait\x1b[0m\x1b[1m\x1b[31merror:\x1b[0m");
}

TEST(DisplayWidth, EscapeSequencesTakeNoRoom) {
  EXPECT_EQ(display_width(""), 0u);
  EXPECT_EQ(display_width("--wait"), 6u);
  EXPECT_EQ(display_width("\x1b[1m--wait\x1b[0m"), 6u);
  EXPECT_EQ(display_width("caf\xC3\xA9 \xEF\xBF\xBD"), 6u);
}

TEST(StripStyles, RemovesSequencesAndControlsButKeepsText) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"\x1b[1m\x1b[31merror:\x1b[0m plain", "error: plain"},
      {"--a\x01" "b", "--ab"},
      {"tab\tlf\nff\fcr\r", "tab\tlf\nff\fcr\r"},
      {"del\x7f" "bel\x07" "nul", "delbelnul"},
      {"a\x1b[38;5;196mb\x1b[0m", "ab"},
      {"a\x1b]0;title\x07" "b", "ab"},      // OSC ended by BEL
      {"a\x1b]8;;x\x1b\\b", "ab"},           // OSC ended by ST
      {"a\x1bPdata\x1b\\b", "ab"},           // DCS
      {"a\x1b(Bb", "ab"},                    // escape with an intermediate
      {"a\x1b" "7b", "ab"},                  // two-byte escape
      {"a\x1b[12\x18" "b", "ab"},            // CAN aborts a sequence
      {"\xEF\xBF\xBD caf\xC3\xA9", "\xEF\xBF\xBD caf\xC3\xA9"},
      {"a\x1b[\xC3\xA9", "a\xC3\xA9"},       // text ends an unfinished sequence
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(strip_styles(c.in), c.out);
  }
}

}  // namespace
}  // namespace kiv::cmdline
