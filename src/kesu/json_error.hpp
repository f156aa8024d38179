// The error of a JSON value that has the wrong type for what reads it.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace kesu {

/// How `value` is named in an error: "unit value" for null, "boolean `true`",
/// "integer `-5`", "floating point `1.5`" (a whole number keeps ".0"),
/// "sequence", "map", and a string in double quotes.
std::string describe_json_value(const nlohmann::json& value);

/// "invalid type: {described value}, expected {expected}".
kiv::Error invalid_type(const nlohmann::json& value, std::string_view expected);

}  // namespace kesu
