// Byte strings and the few places where they must be text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

/// What one decoding step found at the start of some bytes.
enum class Utf8Status : std::uint8_t {
  Valid,       // a well-formed sequence
  Invalid,     // a maximal ill-formed subpart that a byte cut short, or a
               // byte that starts no sequence (a continuation byte, C0, C1,
               // F5 to FF)
  Incomplete,  // a maximal ill-formed subpart that the bytes end in
};

/// One step of UTF-8 decoding: the sequence at the start of the bytes, or
/// the maximal ill-formed subpart there (the Unicode Standard's unit of
/// replacement: the longest start of a well-formed sequence, at least one
/// byte).
struct Utf8Step {
  char32_t cp;         // the scalar value; U+FFFD when not valid
  std::size_t length;  // the bytes taken: 1 to 4 (0 only for empty bytes)
  Utf8Status status;

  bool valid() const { return status == Utf8Status::Valid; }
};

/// Decodes the sequence at the start of `bytes`. Well-formed means no
/// overlong form, no surrogate, nothing above U+10FFFF. Empty bytes give
/// {U+FFFD, 0, Incomplete}.
Utf8Step decode_utf8_step(std::string_view bytes);

/// The length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t valid_utf8_prefix(std::string_view bytes);

/// Whether `bytes` is well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

/// Whether `byte` continues a sequence (10xxxxxx) rather than starting one.
constexpr bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

/// `bytes` with every maximal ill-formed subpart replaced by one U+FFFD, the
/// Unicode Standard's recommended practice.
std::string utf8_lossy(std::string_view bytes);

/// Appends the UTF-8 form of the scalar value `cp` to `out`.
void append_utf8(std::string& out, char32_t cp);
/// The UTF-8 form of the scalar value `cp`.
std::string encode_utf8(char32_t cp);

/// Whether `cp` has the Unicode White_Space property.
bool is_unicode_white_space(char32_t cp);

/// `text` (valid UTF-8) without leading and trailing White_Space characters.
std::string_view trim_unicode_white_space(std::string_view text);

/// The environment variable `name` when it is set and valid UTF-8; a value
/// that is not valid UTF-8 counts as unset, an empty value as set.
std::optional<std::string> env_text(const char* name);

/// The raw bytes of `name` when it is set.
std::optional<std::string> env_bytes(const char* name);

/// Environment lookup: the raw bytes of a variable, or nothing when unset.
/// env_bytes is the process's own; tests pass a table.
using EnvLookup = std::function<std::optional<std::string>(const char*)>;

/// Every variable of the environment as it stands, by name; a name given
/// twice keeps its last value. Variables whose name or value is not valid
/// UTF-8 cannot travel as text and are left out.
std::map<std::string, std::string> capture_environment();

/// `digits` as a number when it is one or more ASCII digits (leading zeros
/// allowed) and at most `max`; nothing for anything else, a sign included.
std::optional<std::uint64_t> parse_ascii_decimal(std::string_view digits, std::uint64_t max);

/// `bytes` in double quotes with quotes, backslashes and control characters
/// escaped (\n, \u{1b}, ...) and invalid UTF-8 bytes written as \xNN with
/// upper-case digits: how a path is quoted in
/// messages such as "... at path \"/tmp/x\"".
std::string debug_quoted(std::string_view bytes);

}  // namespace kiv
