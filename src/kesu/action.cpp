#include "kesu/action.hpp"

#include <nlohmann/json.hpp>

namespace kesu {

constinit ActionRegistry REGISTRY;

nlohmann::ordered_json SchemaGenerator::string_subschema() const { return {{"type", "string"}}; }

nlohmann::ordered_json schema_as_object(nlohmann::ordered_json schema) {
  if (!schema.is_boolean()) return schema;
  if (schema.get<bool>()) return nlohmann::ordered_json::object();
  return {{"not", nlohmann::ordered_json::object()}};
}

}  // namespace kesu
