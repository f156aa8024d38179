#include "cmdline/similarity.hpp"

#include <gtest/gtest.h>

#include <array>

namespace kiv::cmdline {
namespace {

TEST(JaroSimilarity, KnownValues) {
  struct Case {
    const char* a;
    const char* b;
    double expected;
  };
  const Case cases[] = {
      {"", "", 1.0},
      {"", "a", 0.0},
      {"a", "", 0.0},
      {"abc", "abc", 1.0},
      {"abc", "xyz", 0.0},
      {"martha", "marhta", 0.9444444444444445},  // one transposition
      {"dixon", "dicksonx", 0.7666666666666666},
      {"foo", "foreground", 0.7666666666666666},
      {"dev", "dev-container", 0.7435897435897436},
      {"dev", "dev-server-token", 0.7291666666666666},
      // Computed in exactly this order it lands just above 0.7.
      {"fishy", "elvish", 0.7000000000000001},
      // Code points, not bytes: "é" is one character.
      {"caf\xC3\xA9", "cafe", 0.8333333333333334},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " ~ " + c.b);
    EXPECT_DOUBLE_EQ(jaro_similarity(c.a, c.b), c.expected);
  }
  EXPECT_GT(jaro_similarity("fishy", "elvish"), 0.7);
}

TEST(MostSimilar, ThresholdAndTies) {
  const std::array<std::string_view, 6> shells = {"bash", "elvish", "fish", "nushell", "powershell", "zsh"};
  struct Case {
    const char* word;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"Bash", "bash"}, {"bsh", "bash"},   {"zs", "zsh"},         {"zsh2", "zsh"},
      {"fishy", "fish"}, {"nu", "nushell"}, {"pwsh", "powershell"}, {"elv", "elvish"},
      {"ZSH", std::nullopt}, {"", std::nullopt}, {"xyz", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(most_similar(c.word, shells), c.expected);
  }
  // "as" is as close to "classic" as to "askpass": the later candidate wins.
  const std::array<std::string_view, 3> longs = {"classic", "askpass", "help"};
  EXPECT_EQ(most_similar("as", longs), "askpass");
  const std::array<std::string_view, 3> reversed = {"askpass", "classic", "help"};
  EXPECT_EQ(most_similar("as", reversed), "classic");
}

}  // namespace
}  // namespace kiv::cmdline
