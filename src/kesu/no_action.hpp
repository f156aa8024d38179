// The two built-in actions with special keymap handling: NoAction, bound to a
// keystroke to unbind it, and Unbind, which undoes later bindings of a named
// action.
#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "kesu/action.hpp"
#include "kesu/compact_string.hpp"

namespace kesu {

class NoAction final : public ActionOf<NoAction> {
 public:
  static constexpr std::string_view kName = "kiv::NoAction";
  static constexpr std::string_view kDocumentation =
      "Action with special handling which unbinds the keybinding this is associated with,\n"
      "if it is the highest precedence match.";

  /// Takes any value and drops it. Never fails.
  static kiv::Result<std::unique_ptr<Action>> build(nlohmann::json value);
  /// None: the action takes no argument.
  static std::optional<nlohmann::ordered_json> action_json_schema(SchemaGenerator& generator);

  std::unique_ptr<Action> boxed_clone() const override;
  bool partial_eq(const Action& other) const override;
};

class Unbind final : public ActionOf<Unbind> {
 public:
  static constexpr std::string_view kName = "kiv::Unbind";
  static constexpr std::string_view kDocumentation =
      "Action with special handling which unbinds later bindings for the same keystrokes when they\n"
      "dispatch the named action, regardless of that action's context.\n"
      "\n"
      "In keymap JSON this is written as:\n"
      "\n"
      "`[\"kiv::Unbind\", \"editor::NewLine\"]`";

  explicit Unbind(CompactString text) : action_name(std::move(text)) {}

  /// The value must be a JSON string: it names the action. Anything else
  /// fails with "invalid type: ..., expected a string".
  static kiv::Result<std::unique_ptr<Action>> build(nlohmann::json value);
  /// {"type": "string", "description": kDocumentation}.
  static std::optional<nlohmann::ordered_json> action_json_schema(SchemaGenerator& generator);

  /// A new Unbind sharing this one's name.
  std::unique_ptr<Action> boxed_clone() const override;
  bool partial_eq(const Action& other) const override;

  /// The action whose bindings are undone.
  CompactString action_name;
};

/// The registrations made at process start.
ActionRegistration no_action_registration();
ActionRegistration unbind_registration();

}  // namespace kesu
