// The byte encoding of messages on kiv's channels to the editor: fields one
// after the other with nothing in between, integers little-endian and of
// fixed width, variant indices as u32, lengths and counts as u64, option and
// bool as one byte, channel ends as u64 indices into the message's list of
// channel descriptors. The editor decodes with the same rules, so every byte
// here is part of the contract with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/unique_fd.hpp"

namespace kiv::ipc {

/// The decoding failure for a payload that ends inside a fixed-width field,
/// a length, a count, a tag or a variant index.
inline constexpr std::string_view UNEXPECTED_END_TEXT = "io error: unexpected end of file";
/// The decoding failure for a payload that ends inside the bytes of a text.
inline constexpr std::string_view TEXT_CUT_SHORT_TEXT = "io error: ";
/// The encoding failure for a path that is not valid UTF-8.
inline constexpr std::string_view PATH_NOT_UTF8_TEXT = "path contains invalid UTF-8 characters";

/// Builds one payload. Encoding can fail only on a text or path that is not
/// valid UTF-8; the first such failure is kept and reported by finish(), so
/// callers write every field without checking each one.
class Encoder {
 public:
  Encoder() { bytes_.reserve(4096); }

  void u8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void boolean(bool value) { u8(value ? 1 : 0); }
  void u32(std::uint32_t value);
  void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
  void u64(std::uint64_t value);
  /// The tag of an optional value: 1 present, 0 absent.
  void option_tag(bool present) { u8(present ? 1 : 0); }
  /// A u64 byte count and the bytes. Not valid UTF-8: the payload fails with
  /// "text is not valid UTF-8: {quoted text}".
  void text(std::string_view value);
  /// As text(), but a path that is not valid UTF-8 fails the payload with
  /// PATH_NOT_UTF8_TEXT.
  void path(std::string_view value);
  /// A list or map length.
  void count(std::size_t n) { u64(n); }
  /// Appends `fd` (borrowed) to the message's descriptors and writes its index.
  void channel_end(int fd);

  /// The payload, or the first encoding failure.
  [[nodiscard]] Result<std::string> finish() &&;
  /// The descriptors the payload's indices name, in index order.
  const std::vector<int>& descriptors() const { return descriptors_; }

 private:
  std::string bytes_;
  std::vector<int> descriptors_;
  std::optional<Error> error_;
};

/// Reads fields from the front of a payload. Nothing is read past its end,
/// and no length or count is trusted beyond what the remaining bytes can hold.
class Decoder {
 public:
  explicit Decoder(std::string_view payload) : rest_(payload) {}

  [[nodiscard]] Result<std::uint8_t> u8();
  /// Fails with "invalid u8 while decoding bool, expected 0 or 1, found N".
  [[nodiscard]] Result<bool> boolean();
  [[nodiscard]] Result<std::uint32_t> u32();
  [[nodiscard]] Result<std::int32_t> i32();
  [[nodiscard]] Result<std::uint64_t> u64();
  /// Whether an optional value follows; fails with "tag for enum is not
  /// valid, found N" on a tag other than 0 and 1.
  [[nodiscard]] Result<bool> option_tag();
  /// A variant index below `variants`; a larger one fails with "invalid value:
  /// integer `N`, expected variant index 0 <= i < K".
  [[nodiscard]] Result<std::uint32_t> variant(std::uint32_t variants);
  /// A text: TEXT_CUT_SHORT_TEXT when its bytes run past the payload,
  /// "string is not valid utf8: {detail}" when they are not UTF-8.
  [[nodiscard]] Result<std::string> text();
  /// As text(), left where it lies in the payload.
  [[nodiscard]] Result<std::string_view> text_view();
  /// A list or map length. A count that the rest of the payload cannot hold,
  /// at `min_element_size` bytes per element, fails at once with
  /// UNEXPECTED_END_TEXT: reading the elements would fail the same way.
  [[nodiscard]] Result<std::size_t> count(std::size_t min_element_size);
  /// Reads a channel index and takes the descriptor at that place of
  /// `channels`, leaving the place empty. An index past the list, or a place
  /// already taken, fails naming the index.
  [[nodiscard]] Result<UniqueFd> channel_end(std::vector<UniqueFd>& channels);

  std::size_t remaining() const { return rest_.size(); }

 private:
  [[nodiscard]] Result<std::string_view> take(std::size_t n, std::string_view failure);
  std::string_view rest_;
};

/// The detail of the first UTF-8 fault in `bytes` (which must hold one):
/// "invalid utf-8 sequence of N bytes from index I", or "incomplete utf-8
/// byte sequence from index I" when the input ends inside a sequence.
std::string utf8_error_detail(std::string_view bytes);

}  // namespace kiv::ipc
