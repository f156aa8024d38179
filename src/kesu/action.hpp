// The Kesu framework's action interface, the record an action type registers
// itself with, and the process-wide registry of those records.
#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string_view>

#include "base/error.hpp"
#include "kesu/registry.hpp"
#include "kesu/type_id.hpp"

namespace kesu {

/// What a keystroke can be bound to. Objects are used through these
/// operations only, and released by their owner.
class Action {
 public:
  virtual ~Action() = default;

  /// The identity of the object's type.
  virtual TypeId type_id() const = 0;
  /// A new object equal to this one.
  virtual std::unique_ptr<Action> boxed_clone() const = 0;
  /// Whether `other` is an action of the same type with the same data.
  virtual bool partial_eq(const Action& other) const = 0;
  /// The name the type is registered under.
  virtual std::string_view name() const = 0;

 protected:
  Action() = default;
  Action(const Action&) = default;
  Action& operator=(const Action&) = default;
};

/// The base of a concrete action type `Derived`: its identity, and its name
/// from `Derived::kName`.
template <class Derived>
class ActionOf : public Action {
 public:
  TypeId type_id() const final { return type_id_of<Derived>(); }
  std::string_view name() const final { return Derived::kName; }
};

/// Makes the JSON schemas of action arguments. It knows what the built-in
/// actions ask of it.
class SchemaGenerator {
 public:
  /// The schema of a JSON string, written out in place, never as a
  /// reference to a definition: {"type": "string"}.
  nlohmann::ordered_json string_subschema() const;
};

/// `schema` as a JSON object: the schema `true` (anything) becomes {},
/// `false` (nothing) becomes {"not": {}}, an object stays as it is.
nlohmann::ordered_json schema_as_object(nlohmann::ordered_json schema);

using BuildAction = kiv::Result<std::unique_ptr<Action>> (*)(nlohmann::json value);
using ActionJsonSchema = std::optional<nlohmann::ordered_json> (*)(SchemaGenerator& generator);

/// What a registry reader learns about one action type. The texts are static.
struct ActionRegistration {
  std::string_view name;
  TypeId type_id;
  /// Makes an action from its keymap argument.
  BuildAction build;
  /// The schema of that argument, if the type has one.
  ActionJsonSchema json_schema;
  std::span<const std::string_view> name_list;
  std::optional<std::string_view> optional_text;
  std::optional<std::string_view> documentation;
};

/// An item of the registry: the function that makes one type's registration
/// when a reader asks for it.
struct MacroActionBuilder {
  ActionRegistration (*function)();
};

using ActionRegistry = Registry<MacroActionBuilder>;

/// Every action type registered at process start. Filled before main runs
/// and never changed afterwards.
extern constinit ActionRegistry REGISTRY;

}  // namespace kesu
