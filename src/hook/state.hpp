// The agents' event vocabulary: which events wait for the user, which state event the
// desktop receives for each raw event, the small default answers some agents expect, the
// Cline payload dialect, and the display form of a tool's input. All pure functions;
// names are compared byte for byte, case-sensitively.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace ombrel::hook {

// Whether the event asks the user for a decision (the permission path).
bool is_blocking(std::string_view source, std::string_view event, const Json& payload);
// The state event the desktop receives; an event no rule knows comes back unchanged.
std::string map_state_event(std::string_view source, std::string_view event, const Json& payload);
// The notification types shared by CodeBuddy and WorkBuddy.
std::string notification_family_state(std::string_view event, const Json& payload);
// The answer an agent expects on stdout after a non-blocking event, if any.
std::optional<Json> get_default_response(std::string_view event, std::string_view source);

struct ToolCall {
  std::optional<std::string> name;
  Json input;  // null when there is none
  std::string state_event;
};
// Fills in Cline's tool name, tool input and state event from its nested objects.
ToolCall cline_tool_and_event(const Json& payload, std::string_view raw_event, ToolCall call);
// The tool of a blocking Cline event, named by its "preToolUse" object only.
ToolCall cline_pre_tool_use(const Json& payload, ToolCall call);
// A string is read as one JSON document, else kept as {"raw": text}; other values as they are.
Json parse_tool_args(const Json& value);
// Parses JSON text held in list members and derives "command" and "path" for display.
Json normalize_tool_input_for_display(Json input);

}  // namespace ombrel::hook
