#include "ipc/wire.hpp"

#include <cstring>

#include "base/text.hpp"

namespace kiv::ipc {
namespace {

template <class T>
void append_le(std::string& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

template <class T>
T read_le(std::string_view bytes) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return value;
}

}  // namespace

void Encoder::u32(std::uint32_t value) { append_le(bytes_, value); }
void Encoder::u64(std::uint64_t value) { append_le(bytes_, value); }

void Encoder::text(std::string_view value) {
  if (!error_ && !is_valid_utf8(value)) error_ = Error("text is not valid UTF-8: " + debug_quoted(value));
  count(value.size());
  bytes_.append(value);
}

void Encoder::path(std::string_view value) {
  if (!error_ && !is_valid_utf8(value)) error_ = Error(std::string(PATH_NOT_UTF8_TEXT));
  count(value.size());
  bytes_.append(value);
}

void Encoder::channel_end(int fd) {
  u64(descriptors_.size());
  descriptors_.push_back(fd);
}

Result<std::string> Encoder::finish() && {
  if (error_) return fail(std::move(*error_));
  return std::move(bytes_);
}

Result<std::string_view> Decoder::take(std::size_t n, std::string_view failure) {
  if (rest_.size() < n) return fail(std::string(failure));
  std::string_view taken = rest_.substr(0, n);
  rest_.remove_prefix(n);
  return taken;
}

Result<std::uint8_t> Decoder::u8() {
  KIV_TRY_ASSIGN(std::string_view bytes, take(1, UNEXPECTED_END_TEXT));
  return static_cast<std::uint8_t>(bytes[0]);
}

Result<bool> Decoder::boolean() {
  KIV_TRY_ASSIGN(std::uint8_t byte, u8());
  if (byte > 1) return fail("invalid u8 while decoding bool, expected 0 or 1, found " + std::to_string(byte));
  return byte == 1;
}

Result<std::uint32_t> Decoder::u32() {
  KIV_TRY_ASSIGN(std::string_view bytes, take(4, UNEXPECTED_END_TEXT));
  return read_le<std::uint32_t>(bytes);
}

Result<std::int32_t> Decoder::i32() {
  KIV_TRY_ASSIGN(std::uint32_t value, u32());
  return static_cast<std::int32_t>(value);
}

Result<std::uint64_t> Decoder::u64() {
  KIV_TRY_ASSIGN(std::string_view bytes, take(8, UNEXPECTED_END_TEXT));
  return read_le<std::uint64_t>(bytes);
}

Result<bool> Decoder::option_tag() {
  KIV_TRY_ASSIGN(std::uint8_t tag, u8());
  if (tag > 1) return fail("tag for enum is not valid, found " + std::to_string(tag));
  return tag == 1;
}

Result<std::uint32_t> Decoder::variant(std::uint32_t variants) {
  KIV_TRY_ASSIGN(std::uint32_t index, u32());
  if (index >= variants) {
    return fail("invalid value: integer `" + std::to_string(index) + "`, expected variant index 0 <= i < " +
                std::to_string(variants));
  }
  return index;
}

Result<std::string_view> Decoder::text_view() {
  KIV_TRY_ASSIGN(std::uint64_t length, u64());
  // take() compares before anything is allocated: the length is only the peer's claim.
  KIV_TRY_ASSIGN(std::string_view bytes, take(static_cast<std::size_t>(length), TEXT_CUT_SHORT_TEXT));
  if (!is_valid_utf8(bytes)) return fail("string is not valid utf8: " + utf8_error_detail(bytes));
  return bytes;
}

Result<std::string> Decoder::text() {
  KIV_TRY_ASSIGN(std::string_view bytes, text_view());
  return std::string(bytes);
}

Result<std::size_t> Decoder::count(std::size_t min_element_size) {
  KIV_TRY_ASSIGN(std::uint64_t n, u64());
  if (min_element_size > 0 && n > rest_.size() / min_element_size) return fail(std::string(UNEXPECTED_END_TEXT));
  return static_cast<std::size_t>(n);
}

Result<UniqueFd> Decoder::channel_end(std::vector<UniqueFd>& channels) {
  KIV_TRY_ASSIGN(std::uint64_t index, u64());
  if (index >= channels.size()) {
    return fail("channel index " + std::to_string(index) + " names no descriptor: the message carries " +
                std::to_string(channels.size()));
  }
  UniqueFd& place = channels[static_cast<std::size_t>(index)];
  if (!place) return fail("channel index " + std::to_string(index) + " names a descriptor already taken");
  return std::move(place);
}

std::string utf8_error_detail(std::string_view bytes) {
  std::size_t i = valid_utf8_prefix(bytes);
  if (i == bytes.size()) return "no utf-8 error";
  Utf8Step fault = decode_utf8_step(bytes.substr(i));
  if (fault.status == Utf8Status::Incomplete) return "incomplete utf-8 byte sequence from index " + std::to_string(i);
  return "invalid utf-8 sequence of " + std::to_string(fault.length) + " bytes from index " + std::to_string(i);
}

}  // namespace kiv::ipc
