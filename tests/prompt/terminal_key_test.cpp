#include "prompt/terminal_key.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "base/unique_fd.hpp"

namespace kiv {
namespace {

// Bytes already waiting on a pipe stand for a burst that a terminal
// delivered at once; the write end stays open, as a terminal does.
class KeyPipe {
 public:
  KeyPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    read_.reset(fds[0]);
    write_.reset(fds[1]);
  }
  void put(std::string_view bytes) { ASSERT_EQ(::write(write_.get(), bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  bool drained() {
    pollfd entry{read_.get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 0;
  }
  void close_writer() { write_.reset(); }
  int fd() const { return read_.get(); }

 private:
  UniqueFd read_, write_;
};

TerminalKey k(KeyKind kind) { return {kind, 0}; }
TerminalKey ch(char32_t c) { return {KeyKind::Char, c}; }

std::string describe_all(const std::vector<TerminalKey>& keys) {
  std::string text;
  for (const TerminalKey& key : keys) text += describe(key) + " ";
  return text;
}

TEST(ReadKey, DecodesEachBurst) {
  struct Case {
    std::string_view bytes;
    std::vector<TerminalKey> keys;
  };
  const Case cases[] = {
      {"\x1b[A", {k(KeyKind::ArrowUp)}},
      {"\x1b[B", {k(KeyKind::ArrowDown)}},
      {"\x1b[C", {k(KeyKind::ArrowRight)}},
      {"\x1b[D", {k(KeyKind::ArrowLeft)}},
      {"\x1b[H", {k(KeyKind::Home)}},
      {"\x1b[F", {k(KeyKind::End)}},
      {"\x1b[Z", {k(KeyKind::BackTab)}},
      {"\x1b", {k(KeyKind::Escape)}},
      {"\r", {k(KeyKind::Enter)}},
      {"\n", {k(KeyKind::Enter)}},
      {"\t", {k(KeyKind::Tab)}},
      {"\x7f", {k(KeyKind::Backspace)}},
      {"\x08", {k(KeyKind::Backspace)}},
      {"\x01", {k(KeyKind::Home)}},
      {"\x05", {k(KeyKind::End)}},
      {" jkq", {ch(' '), ch('j'), ch('k'), ch('q')}},
      {"J", {ch('J')}},
      {"\x1a", {ch(0x1a)}},                                           // Ctrl-Z is a plain byte
      {"\x03", {k(KeyKind::Interrupt)}},
      {"\x1b\x03", {k(KeyKind::Interrupt)}},                          // Ctrl-C inside a sequence
      {"\x1b[\x03", {k(KeyKind::Interrupt)}},
      {"\x1b[1\x03", {k(KeyKind::Interrupt)}},
      // Tilde sequences: ESC [ digit ~.
      {"\x1b[1~\x1b[7~", {k(KeyKind::Home), k(KeyKind::Home)}},
      {"\x1b[2~", {k(KeyKind::Insert)}},
      {"\x1b[3~", {k(KeyKind::Delete)}},
      {"\x1b[4~\x1b[8~", {k(KeyKind::End), k(KeyKind::End)}},
      {"\x1b[5~", {k(KeyKind::PageUp)}},
      {"\x1b[6~", {k(KeyKind::PageDown)}},
      {"\x1b[9~", {k(KeyKind::UnknownEscape)}},
      // At most four bytes belong to one key; the rest are keys of their own.
      {"\x1bx", {k(KeyKind::UnknownEscape)}},                                  // Alt-x
      {"\x1bOB", {k(KeyKind::UnknownEscape), ch('B')}},                       // application-mode Down
      {"\x1bOP", {k(KeyKind::UnknownEscape), ch('P')}},                       // F1
      {"\x1b[15~", {k(KeyKind::UnknownEscape), ch('~')}},                     // F5
      {"\x1b[1;5A", {k(KeyKind::UnknownEscape), ch('5'), ch('A')}},           // Ctrl-Up
      {"\x1b[", {k(KeyKind::UnknownEscape)}},
      {"\x1b[1", {k(KeyKind::UnknownEscape)}},
      // UTF-8: a lead byte takes its continuation bytes in one read.
      {"\xc3\xa9", {ch(U'é')}},
      {"\xe2\x82\xac", {ch(U'€')}},
      {"\xf0\x9f\x98\x80", {ch(U'\U0001F600')}},
      {"\xc3(", {k(KeyKind::Unknown)}},
      {"\xc0\x80", {k(KeyKind::Unknown)}},           // overlong
      {"\xed\xa0\x80", {k(KeyKind::Unknown)}},       // surrogate
      {"\xf4\x90\x80\x80", {k(KeyKind::Unknown)}},   // above U+10FFFF
      {"\xc3\x03", {k(KeyKind::Interrupt)}},
      // Bytes that lead nothing are characters of their own value.
      {"\x80\xbf\xf8\xff", {ch(0x80), ch(0xbf), ch(0xf8), ch(0xff)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    KeyPipe pipe;
    pipe.put(c.bytes);
    std::vector<TerminalKey> keys;
    for (size_t i = 0; i < c.keys.size(); ++i) {
      Result<TerminalKey> key = read_key(pipe.fd());
      ASSERT_TRUE(key) << key.error().display();
      keys.push_back(*key);
    }
    EXPECT_EQ(keys, c.keys) << describe_all(keys) << "!= " << describe_all(c.keys);
    EXPECT_TRUE(pipe.drained());
  }
}

TEST(ReadKey, EscapeArrivingAloneIsEscape) {
  // No delay is waited for: what is not there yet belongs to the next key.
  KeyPipe pipe;
  pipe.put("\x1b");
  std::vector<TerminalKey> keys;
  keys.push_back(read_key(pipe.fd()).value());
  pipe.put("[B");
  keys.push_back(read_key(pipe.fd()).value());
  keys.push_back(read_key(pipe.fd()).value());
  EXPECT_EQ(keys, (std::vector{k(KeyKind::Escape), ch('['), ch('B')})) << describe_all(keys);
}

TEST(ReadKey, EndOfInputFails) {
  KeyPipe pipe;
  pipe.close_writer();
  Result<TerminalKey> key = read_key(pipe.fd());
  ASSERT_FALSE(key);
  EXPECT_EQ(key.error().display(), "end of file on the terminal");
}

}  // namespace
}  // namespace kiv
