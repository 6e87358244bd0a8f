// Lenient reading of the JSON bodies that clients send. Lookups never fail: a missing
// member, a value of another type or a body that is not an object all find nothing.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/utf8.hpp"

namespace ombrel::devserver {

using Json = nlohmann::json;

// The member of an object, or nullptr (also for any value that is not an object).
const Json* member(const Json& value, std::string_view name);
// A string as it is, a number as its JSON text, a boolean as "true"/"false"; nothing for
// null, arrays, objects and missing members.
std::optional<std::string> scalar_text(const Json* value);
std::optional<std::string> scalar_text(const Json& object, std::string_view name);
// Compact JSON text; never throws (invalid UTF-8 is replaced).
std::string compact(const Json& value);

// What a tool call acts on, as one line to show: a command or a path.
struct ToolDetail {
  std::string label;  // "command", "path" or "url"
  std::string text;
};
// The detail of a tool input object; nothing when it names no command, path or url.
std::optional<ToolDetail> tool_detail(const Json& tool_input);

// The first question of an AskUserQuestion call. Each option keeps its position, so that
// an option index means what the hook will take it to mean; an option without a usable
// label has none.
struct Question {
  std::string text;
  std::vector<std::optional<std::string>> options;
};
// Nothing unless the tool is AskUserQuestion (any letter case) and the input's first
// question has a non-empty "options" array.
std::optional<Question> first_question(std::string_view tool_name, const Json& tool_input);
// True when the question has a text and the index names an option with a label: the only
// answers the hook can turn into a chosen option.
bool answerable(const Question& question, std::size_t index);

}  // namespace ombrel::devserver
