// NoAction and Unbind: building from keymap JSON, equality, clones, schemas
// and what they register.
#include "kesu/no_action.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace kesu {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

const Unbind& as_unbind(const Action& action) {
  EXPECT_EQ(action.type_id(), type_id_of<Unbind>());
  return static_cast<const Unbind&>(action);
}

std::unique_ptr<Action> unbind(const std::string& name) {
  auto built = Unbind::build(json(name));
  EXPECT_TRUE(built.has_value());
  return built ? std::move(*built) : nullptr;
}

TEST(UnbindBuild, TakesTheStringAsTheActionName) {
  const std::string names[] = {
      "editor::NewLine",
      "",
      std::string("nul\0inside", 10),
      "workspace::ToggleLeftDockAndFocusTheProjectPanel",  // past the inline capacity
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    auto built = Unbind::build(json(name));
    ASSERT_TRUE(built.has_value()) << built.error().display();
    EXPECT_EQ((*built)->name(), "kiv::Unbind");
    EXPECT_EQ(as_unbind(**built).action_name.view(), name);
  }
}

TEST(UnbindBuild, AnyOtherJsonTypeIsAnInvalidTypeError) {
  struct Case {
    json value;
    std::string message;
  };
  const Case cases[] = {
      {json(5), "invalid type: integer `5`, expected a string"},
      {json(-5), "invalid type: integer `-5`, expected a string"},
      {json(18446744073709551615ULL), "invalid type: integer `18446744073709551615`, expected a string"},
      {json(1.5), "invalid type: floating point `1.5`, expected a string"},
      {json(2.0), "invalid type: floating point `2.0`, expected a string"},
      {json(-0.0), "invalid type: floating point `-0.0`, expected a string"},
      {json(1e21), "invalid type: floating point `1000000000000000000000.0`, expected a string"},
      {json(1e-7), "invalid type: floating point `0.0000001`, expected a string"},
      {json(0.1), "invalid type: floating point `0.1`, expected a string"},
      {json(-0.0025), "invalid type: floating point `-0.0025`, expected a string"},
      {json(123456.789), "invalid type: floating point `123456.789`, expected a string"},
      {json(5e-324), "invalid type: floating point `0." + std::string(323, '0') + "5`, expected a string"},
      {json(true), "invalid type: boolean `true`, expected a string"},
      {json(false), "invalid type: boolean `false`, expected a string"},
      {json(nullptr), "invalid type: unit value, expected a string"},
      {json::array({"editor::NewLine"}), "invalid type: sequence, expected a string"},
      {json::array(), "invalid type: sequence, expected a string"},
      {json::object({{"action", "editor::NewLine"}}), "invalid type: map, expected a string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.dump());
    auto built = Unbind::build(c.value);
    ASSERT_FALSE(built.has_value());
    EXPECT_EQ(built.error().display(), c.message);
  }
  // Parsed numbers keep their kind: "5" reads as an integer, "5.0" as a float.
  EXPECT_EQ(Unbind::build(json::parse("5.0")).error().display(),
            "invalid type: floating point `5.0`, expected a string");
  EXPECT_EQ(Unbind::build(json::parse("1e300")).error().display(),
            "invalid type: floating point `1" + std::string(300, '0') + ".0`, expected a string");
}

TEST(NoActionBuild, AcceptsAndDropsAnyValue) {
  for (const json& value : {json(nullptr), json::object({{"a", 1}}), json("editor::NewLine")}) {
    SCOPED_TRACE(value.dump());
    auto built = NoAction::build(value);
    ASSERT_TRUE(built.has_value());
    EXPECT_EQ((*built)->type_id(), type_id_of<NoAction>());
    EXPECT_EQ((*built)->name(), "kiv::NoAction");
  }
}

TEST(ActionEquality, SameTypeAndSameNameOnly) {
  const std::string long_name = "an::ActionNameThatIsLongerThanTwentyThreeBytes";
  auto short_a = unbind("editor::NewLine");
  auto short_b = unbind("editor::NewLine");
  auto long_a = unbind(long_name);
  auto long_b = unbind(long_name);
  auto other = unbind("editor::Newline");
  auto empty = unbind("");
  auto prefix = unbind(long_name.substr(0, 30));
  auto built = NoAction::build(json());
  ASSERT_TRUE(built);
  auto no_action = std::move(*built);

  struct Case {
    const char* what;
    const Action& left;
    const Action& right;
    bool equal;
  };
  auto short_clone = short_a->boxed_clone();
  auto long_clone = long_a->boxed_clone();
  auto no_action_clone = no_action->boxed_clone();
  const Case cases[] = {
      {"clone, inline name", *short_a, *short_clone, true},
      {"clone, heap name", *long_a, *long_clone, true},
      {"built apart, inline name", *short_a, *short_b, true},
      {"built apart, heap name", *long_a, *long_b, true},
      {"names differ in case", *short_a, *other, false},
      {"name against empty name", *short_a, *empty, false},
      {"name against its prefix", *long_a, *prefix, false},
      {"Unbind against NoAction", *empty, *no_action, false},
      {"NoAction against Unbind", *no_action, *empty, false},
      {"NoAction against its clone", *no_action, *no_action_clone, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.left.partial_eq(c.right), c.equal);
    EXPECT_EQ(c.right.partial_eq(c.left), c.equal);
  }
  EXPECT_TRUE(as_unbind(*long_clone).action_name.shares_storage_with(as_unbind(*long_a).action_name));
  EXPECT_FALSE(as_unbind(*long_b).action_name.shares_storage_with(as_unbind(*long_a).action_name));
}

TEST(UnbindClone, OutlivesTheOriginalWithALongName) {
  const std::string name(64, 'x');
  auto original = unbind(name);
  auto clone = original->boxed_clone();
  original.reset();  // frees the text too, unless the clone still shares it
  EXPECT_EQ(as_unbind(*clone).action_name.view(), name);
  auto second = clone->boxed_clone();
  clone.reset();
  EXPECT_EQ(as_unbind(*second).action_name.view(), name);
}

TEST(ActionJsonSchema, UnbindTakesADocumentedStringAndNoActionNothing) {
  SchemaGenerator generator;
  auto schema = Unbind::action_json_schema(generator);
  ASSERT_TRUE(schema.has_value());
  EXPECT_EQ(schema->dump(),
            R"({"type":"string","description":"Action with special handling which unbinds later bindings for the )"
            R"(same keystrokes when they\ndispatch the named action, regardless of that action's context.\n\nIn )"
            R"(keymap JSON this is written as:\n\n`[\"kiv::Unbind\", \"editor::NewLine\"]`"})");
  EXPECT_FALSE(NoAction::action_json_schema(generator).has_value());
}

TEST(ActionJsonSchema, BooleanSchemasBecomeObjects) {
  EXPECT_EQ(schema_as_object(true).dump(), "{}");
  EXPECT_EQ(schema_as_object(false).dump(), R"({"not":{}})");
  EXPECT_EQ(schema_as_object(ordered_json{{"type", "string"}, {"a", 1}}).dump(), R"({"type":"string","a":1})");
}

TEST(ActionRegistration, DescribesEachBuiltInAction) {
  EXPECT_EQ(NoAction::kDocumentation.size(), 121u);
  EXPECT_EQ(Unbind::kDocumentation.size(), 229u);
  EXPECT_NE(type_id_of<NoAction>(), type_id_of<Unbind>());

  SchemaGenerator generator;
  const ActionRegistration no_action = no_action_registration();
  EXPECT_EQ(no_action.name, "kiv::NoAction");
  EXPECT_EQ(no_action.type_id, type_id_of<NoAction>());
  EXPECT_EQ((*no_action.build(json(1)))->type_id(), type_id_of<NoAction>());
  EXPECT_FALSE(no_action.json_schema(generator).has_value());
  EXPECT_TRUE(no_action.name_list.empty());
  EXPECT_FALSE(no_action.optional_text.has_value());
  EXPECT_EQ(no_action.documentation,
            "Action with special handling which unbinds the keybinding this is associated with,\n"
            "if it is the highest precedence match.");

  const ActionRegistration unbind_reg = unbind_registration();
  EXPECT_EQ(unbind_reg.name, "kiv::Unbind");
  EXPECT_EQ(unbind_reg.type_id, type_id_of<Unbind>());
  auto built = unbind_reg.build(json("editor::NewLine"));
  ASSERT_TRUE(built.has_value());
  EXPECT_EQ(as_unbind(**built).action_name, "editor::NewLine");
  EXPECT_FALSE(unbind_reg.build(json(1)).has_value());
  EXPECT_EQ(unbind_reg.json_schema(generator), Unbind::action_json_schema(generator));
  EXPECT_TRUE(unbind_reg.name_list.empty());
  EXPECT_FALSE(unbind_reg.optional_text.has_value());
  EXPECT_EQ(unbind_reg.documentation, Unbind::kDocumentation);
}

}  // namespace
}  // namespace kesu
