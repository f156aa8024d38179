#include "kesu/json_error.hpp"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace kesu {
namespace {

// The shortest digits that read back as `number`, laid out without an
// exponent (1e21 is "1000000000000000000000", 1e-7 "0.0000001"), and ".0"
// after a whole number.
std::string float_text(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
  // Scientific form gives the shortest digits: "-d.ddde+XX".
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
  const std::string_view scientific(buffer, ec == std::errc() ? end : buffer);
  const std::size_t e = scientific.find('e');
  if (e == std::string_view::npos) return std::string(scientific);
  std::string text;
  std::string_view mantissa = scientific.substr(0, e);
  if (mantissa.starts_with('-')) {
    text = "-";
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::string_view exponent_text = scientific.substr(e + 1);
  if (exponent_text.starts_with('+')) exponent_text.remove_prefix(1);
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

  // The point goes after digit number exponent + 1.
  const int point = exponent + 1;
  const int count = static_cast<int>(digits.size());
  if (point <= 0) {
    text += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point >= count) {
    text += digits + std::string(static_cast<std::size_t>(point - count), '0') + ".0";
  } else {
    text += digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
  }
  return text;
}

}  // namespace

std::string describe_json_value(const nlohmann::json& value) {
  using Type = nlohmann::json::value_t;
  switch (value.type()) {
    case Type::null:
    case Type::discarded:
      return "unit value";
    case Type::boolean:
      return value.get<bool>() ? "boolean `true`" : "boolean `false`";
    case Type::number_integer:
      return "integer `" + std::to_string(value.get<std::int64_t>()) + "`";
    case Type::number_unsigned:
      return "integer `" + std::to_string(value.get<std::uint64_t>()) + "`";
    case Type::number_float:
      return "floating point `" + float_text(value.get<double>()) + "`";
    case Type::string:
      return "string " + value.dump();
    case Type::binary:
      return "byte array";
    case Type::array:
      return "sequence";
    case Type::object:
      return "map";
  }
  return "unit value";
}

kiv::Error invalid_type(const nlohmann::json& value, std::string_view expected) {
  return kiv::Error("invalid type: " + describe_json_value(value) + ", expected " + std::string(expected));
}

}  // namespace kesu
