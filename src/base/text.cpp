#include "base/text.hpp"

#include <cstdlib>

extern char** environ;

namespace kiv {

Utf8Step decode_utf8_step(std::string_view bytes) {
  if (bytes.empty()) return {0xFFFD, 0, Utf8Status::Incomplete};
  auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = b(0);
  if (lead < 0x80) return {lead, 1, Utf8Status::Valid};
  size_t need;
  // The range of the first continuation byte: narrower after E0, ED, F0 and
  // F4, which rules out overlong forms, surrogates and values above U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return {0xFFFD, 1, Utf8Status::Invalid};
  }
  size_t i = 1;
  for (; i <= need; ++i) {
    if (i >= bytes.size()) return {0xFFFD, i, Utf8Status::Incomplete};
    unsigned char c = b(i);
    unsigned char min = i == 1 ? lo : 0x80;
    unsigned char max = i == 1 ? hi : 0xBF;
    if (c < min || c > max) return {0xFFFD, i, Utf8Status::Invalid};
    cp = (cp << 6) | (c & 0x3F);
  }
  return {cp, i, Utf8Status::Valid};
}

size_t valid_utf8_prefix(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    // Fast path for ASCII runs.
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    Utf8Step step = decode_utf8_step(bytes.substr(i));
    if (!step.valid()) break;
    i += step.length;
  }
  return i;
}

bool is_valid_utf8(std::string_view bytes) { return valid_utf8_prefix(bytes) == bytes.size(); }

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string encode_utf8(char32_t cp) {
  std::string out;
  append_utf8(out, cp);
  return out;
}

std::string utf8_lossy(std::string_view bytes) {
  // Nearly every text kiv converts is valid already: one copy.
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    Utf8Step step = decode_utf8_step(bytes.substr(i));
    if (step.valid())
      out.append(bytes.substr(i, step.length));
    else
      append_utf8(out, 0xFFFD);
    i += step.length;
  }
  return out;
}

bool is_unicode_white_space(char32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
         cp == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  // Leading: decode forwards.
  while (!text.empty()) {
    Utf8Step step = decode_utf8_step(text);
    if (!step.valid() || !is_unicode_white_space(step.cp)) break;
    text.remove_prefix(step.length);
  }
  // Trailing: step back to the start of the last sequence.
  while (!text.empty()) {
    size_t start = text.size() - 1;
    while (start > 0 && is_utf8_continuation(static_cast<unsigned char>(text[start])) && text.size() - start < 4)
      --start;
    Utf8Step step = decode_utf8_step(text.substr(start));
    if (!step.valid() || start + step.length != text.size() || !is_unicode_white_space(step.cp)) break;
    text.remove_suffix(step.length);
  }
  return text;
}

std::optional<std::string> env_bytes(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::map<std::string, std::string> capture_environment() {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view item = *entry;
    size_t eq = item.find('=');
    if (eq == std::string_view::npos || !is_valid_utf8(item)) continue;
    env[std::string(item.substr(0, eq))] = std::string(item.substr(eq + 1));
  }
  return env;
}

std::optional<std::uint64_t> parse_ascii_decimal(std::string_view digits, std::uint64_t max) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::string> env_text(const char* name) {
  auto value = env_bytes(name);
  if (value && !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

}  // namespace kiv

namespace kiv {

std::string debug_quoted(std::string_view bytes) {
  static const char hex[] = "0123456789abcdef";
  static const char upper_hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  size_t i = 0;
  while (i < bytes.size()) {
    Utf8Step d = decode_utf8_step(bytes.substr(i));
    if (!d.valid()) {
      for (size_t k = 0; k < d.length; ++k) {
        auto c = static_cast<unsigned char>(bytes[i + k]);
        out += "\\x";
        out += upper_hex[c >> 4];
        out += upper_hex[c & 15];
      }
    } else {
      switch (d.cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case 0: out += "\\0"; break;
        default:
          if (d.cp < 0x20 || (d.cp >= 0x7F && d.cp <= 0x9F)) {
            out += "\\u{";
            if (d.cp >= 16) out += hex[d.cp >> 4];
            out += hex[d.cp & 15];
            out += '}';
          } else {
            out.append(bytes.substr(i, d.length));
          }
      }
    }
    i += d.length;
  }
  out += '"';
  return out;
}

}  // namespace kiv
