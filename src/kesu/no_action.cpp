#include "kesu/no_action.hpp"

#include <nlohmann/json.hpp>

#include "kesu/json_error.hpp"

namespace kesu {

kiv::Result<std::unique_ptr<Action>> NoAction::build(nlohmann::json) { return std::make_unique<NoAction>(); }

std::optional<nlohmann::ordered_json> NoAction::action_json_schema(SchemaGenerator&) { return std::nullopt; }

std::unique_ptr<Action> NoAction::boxed_clone() const { return std::make_unique<NoAction>(); }

bool NoAction::partial_eq(const Action& other) const { return other.type_id() == type_id_of<NoAction>(); }

kiv::Result<std::unique_ptr<Action>> Unbind::build(nlohmann::json value) {
  if (!value.is_string()) return std::unexpected(invalid_type(value, "a string"));
  return std::make_unique<Unbind>(CompactString(value.get_ref<const std::string&>()));
}

std::optional<nlohmann::ordered_json> Unbind::action_json_schema(SchemaGenerator& generator) {
  nlohmann::ordered_json schema = schema_as_object(generator.string_subschema());
  schema["description"] = kDocumentation;
  return schema;
}

std::unique_ptr<Action> Unbind::boxed_clone() const { return std::make_unique<Unbind>(action_name); }

bool Unbind::partial_eq(const Action& other) const {
  // The identity says what `other` is, so the cast is sound.
  return other.type_id() == type_id_of<Unbind>() && static_cast<const Unbind&>(other).action_name == action_name;
}

namespace {

// An action type's registration, from its static members.
template <class T>
ActionRegistration registration_of() {
  return ActionRegistration{
      .name = T::kName,
      .type_id = type_id_of<T>(),
      .build = &T::build,
      .json_schema = &T::action_json_schema,
      .name_list = {},
      .optional_text = std::nullopt,
      .documentation = T::kDocumentation,
  };
}

}  // namespace

ActionRegistration no_action_registration() { return registration_of<NoAction>(); }

ActionRegistration unbind_registration() { return registration_of<Unbind>(); }

}  // namespace kesu
