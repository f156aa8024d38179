#include "kesu/compact_string.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kesu {
namespace {

TEST(CompactString, KeepsEveryByteInlineUpTo23AndOnTheHeapBeyond) {
  struct Case {
    std::string text;
    bool heap;
  };
  const Case cases[] = {
      {"", false},
      {"editor::NewLine", false},
      {std::string(23, 'a'), false},
      {std::string(24, 'a'), true},
      {std::string("\0a\0", 3), false},
      {std::string("twenty-four bytes \0 with", 24), true},
      {std::string(100000, 'z'), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    CompactString s(c.text);
    EXPECT_EQ(s.view(), c.text);
    EXPECT_EQ(s.size(), c.text.size());
    EXPECT_EQ(s.is_heap(), c.heap);
  }
}

TEST(CompactString, CopiesShareALongTextUntilTheLastGoes) {
  const std::string text(40, 'q');
  auto* first = new CompactString(text);
  CompactString copy = *first;
  CompactString assigned("short");
  assigned = copy;  // drops its inline text, joins the sharing
  EXPECT_TRUE(copy.shares_storage_with(*first));
  EXPECT_TRUE(assigned.shares_storage_with(*first));
  delete first;
  EXPECT_EQ(copy.view(), text);
  CompactString moved = std::move(copy);
  EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from text is empty
  EXPECT_EQ(moved.view(), text);
  assigned = CompactString("other");  // gives its share up
  EXPECT_EQ(moved.view(), text);
  EXPECT_EQ(assigned.view(), "other");
}

TEST(CompactString, EqualityComparesTextsWhateverTheStorage) {
  const std::string long_text(30, 'x');
  std::string long_other = long_text;
  long_other.back() = 'y';
  CompactString a(long_text);
  struct Case {
    CompactString left, right;
    bool equal;
  };
  const Case cases[] = {
      {a, a, true},                                          // shared storage
      {a, CompactString(long_text), true},                   // built apart
      {a, CompactString(long_other), false},                 // same length, last byte differs
      {a, CompactString(long_text.substr(0, 23)), false},    // inline prefix
      {CompactString("ab"), CompactString("ab"), true},
      {CompactString(""), CompactString(), true},
      {CompactString(std::string("a\0b", 3)), CompactString(std::string("a\0c", 3)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.left.view()) + " | " + std::string(c.right.view()));
    EXPECT_EQ(c.left == c.right, c.equal);
    EXPECT_EQ(c.right == c.left, c.equal);
  }
}

}  // namespace
}  // namespace kesu
