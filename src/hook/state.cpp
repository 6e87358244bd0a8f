#include "state.hpp"

#include <array>
#include <utility>

#include "text.hpp"
#include "util.hpp"

namespace ombrel::hook {
namespace {

using Row = std::pair<std::string_view, std::string_view>;

// Raw event -> state event, one table per agent. Blocking events never reach these.
constexpr Row kKiroEvents[] = {
    {"stop", "Stop"},
    {"agentSpawn", "SessionStart"},
    {"postToolUse", "PostToolUse"},
    {"userPromptSubmit", "UserPromptSubmit"},
};

constexpr Row kClineEvents[] = {
    {"TaskStart", "SessionStart"},
    {"TaskResume", "SessionStart"},
    {"TaskCancel", "Stop"},
    {"task_cancel", "Stop"},
    {"task_complete", "TaskComplete"},
    {"agent_end", "TaskComplete"},
    {"agent_start", "UserPromptSubmit"},
    {"tool_call", "PreToolUse"},  // only when the payload has no "preToolUse" (else it blocks)
    {"tool_result", "PostToolUse"},
};

constexpr Row kCursorEvents[] = {
    {"stop", "Stop"},
    {"afterAgentResponse", "Stop"},
    {"sessionStart", "SessionStart"},
    {"sessionEnd", "SessionEnd"},
    {"beforeSubmitPrompt", "Start"},
    {"afterAgentThought", "Thinking"},
    {"postToolUse", "PostToolUse"},
    {"postToolUseFailure", "PostToolUse"},
    {"preCompact", "PreCompact"},
    {"subagentStart", "SubagentStart"},
    {"subagentStop", "SubagentStop"},
};

constexpr Row kCopilotEvents[] = {
    {"stop", "Stop"},
    {"agentStop", "Stop"},
    {"agentEnd", "Stop"},
    {"sessionStart", "SessionStart"},
    {"sessionEnd", "SessionEnd"},
    {"agentStart", "Start"},
    {"userPromptSubmitted", "UserPromptSubmit"},
    {"postToolUse", "PostToolUse"},
    {"postToolUseFailure", "Error"},
    {"errorOccurred", "Error"},
    {"preCompact", "PreCompact"},
    {"subagentStart", "SubagentStart"},
    {"subagentStop", "SubagentStop"},
    {"notification", "Notification"},
    {"Notification", "Notification"},
};

// Notification type -> state event.
constexpr Row kCopilotNotifications[] = {
    {"agent_idle", "SessionStart"},
    {"agent_completed", "Stop"},
    {"shell_completed", "PostToolUse"},
    {"shell_detached_completed", "PostToolUse"},
    {"permission_prompt", "PermissionRequest"},
    {"elicitation_dialog", "Elicitation"},
};

constexpr Row kFamilyNotifications[] = {
    {"idle_prompt", "SessionStart"},
    {"permission_prompt", "PermissionRequest"},
    {"elicitation_dialog", "Elicitation"},
};

constexpr Row kGeminiNotifications[] = {
    {"ToolPermission", "PermissionRequest"},
};

// Events that block for every agent, and the agents for which "PreToolUse" blocks too.
constexpr std::string_view kAlwaysBlocking[] = {"preToolUse", "BeforeTool", "Elicitation",
                                                "PermissionRequest", "permissionRequest"};
constexpr std::string_view kPreToolUseBlocks[] = {"kimi",     "qoder",     "cline",
                                                  "reasonix", "codebuddy", "workbuddy"};

template <std::size_t N>
std::optional<std::string_view> lookup(const Row (&table)[N], std::string_view key) {
  for (const auto& [from, to] : table) {
    if (from == key) return to;
  }
  return std::nullopt;
}

template <std::size_t N>
std::string map_with(const Row (&table)[N], std::string_view event) {
  return std::string(lookup(table, event).value_or(event));
}

template <std::size_t N>
bool contains(const std::string_view (&list)[N], std::string_view value) {
  for (auto item : list) {
    if (item == value) return true;
  }
  return false;
}

// A notification's type mapped through a table; "Notification" when unknown or absent.
template <std::size_t N>
std::string notification_state(const Row (&table)[N], const std::optional<std::string>& type) {
  if (!type) return "Notification";
  return std::string(lookup(table, *type).value_or("Notification"));
}

std::optional<bool> bool_at(const Json& payload, std::string_view pointer) {
  const Json* v = at_pointer(payload, pointer);
  if (v == nullptr || !v->is_boolean()) return std::nullopt;
  return v->get<bool>();
}

}  // namespace

bool is_blocking(std::string_view source, std::string_view event, const Json& payload) {
  if (contains(kAlwaysBlocking, event)) return true;
  if (event == "PreToolUse" && contains(kPreToolUseBlocks, source)) return true;
  return source == "cline" && event == "tool_call" && has_member(payload, "preToolUse");
}

std::string notification_family_state(std::string_view event, const Json& payload) {
  if (event != "Notification") return std::string(event);
  return notification_state(kFamilyNotifications, first_str(payload, {"notification_type"}));
}

std::string map_state_event(std::string_view source, std::string_view event, const Json& payload) {
  if (source == "kiro") return map_with(kKiroEvents, event);
  if (source == "cline") {
    if (event == "PostToolUse") {
      return bool_at(payload, "/postToolUse/success") == false ? "Error" : "PostToolUse";
    }
    return map_with(kClineEvents, event);
  }
  if (source == "cursor") return map_with(kCursorEvents, event);
  if (source == "copilot") {
    if (event == "notification" || event == "Notification") {
      return notification_state(kCopilotNotifications,
                                first_str(payload, {"notification_type", "notificationType"}));
    }
    return map_with(kCopilotEvents, event);
  }
  if (source == "gemini") {
    if (event != "Notification") return std::string(event);
    return notification_state(kGeminiNotifications, first_str(payload, {"notification_type"}));
  }
  if (source == "codebuddy" || source == "workbuddy") {
    return notification_family_state(event, payload);
  }
  return std::string(event);
}

std::optional<Json> get_default_response(std::string_view event, std::string_view source) {
  if (source == "cline") return Json{{"cancel", false}};
  if (source == "gemini" && event == "AfterTool") return Json{{"decision", "allow"}};
  if (source == "cursor" && event == "beforeSubmitPrompt") return Json{{"continue", true}};
  return std::nullopt;
}

namespace {

// A Cline "preToolUse" or "postToolUse" object: its tool name and parameters.
void apply_hook_object(const Json* hook, ToolCall& call) {
  if (hook == nullptr || !hook->is_object()) return;
  const Json* name = member(*hook, "toolName");
  if (name == nullptr) name = member(*hook, "tool");
  if (name != nullptr && name->is_string()) call.name = name->get<std::string>();
  if (const Json* params = member(*hook, "parameters")) call.input = *params;
}

// Steps 2 and 3: a "tool_call" or "tool_result" object names a tool not yet named.
void apply_named_object(const Json& payload, std::string_view key, ToolCall& call) {
  if (call.name) return;
  const Json* object = member(payload, key);
  if (object == nullptr || !object->is_object()) return;
  const Json* name = member(*object, "name");
  if (name != nullptr && name->is_string()) call.name = name->get<std::string>();
  if (const Json* input = member(*object, "input")) call.input = *input;
}

}  // namespace

ToolCall cline_tool_and_event(const Json& payload, std::string_view raw_event, ToolCall call) {
  const Json* hook = member(payload, "preToolUse");
  apply_hook_object(hook != nullptr ? hook : member(payload, "postToolUse"), call);
  apply_named_object(payload, "tool_call", call);
  apply_named_object(payload, "tool_result", call);
  if (raw_event == "tool_result") {
    auto success = bool_at(payload, "/postToolUse/success");
    if (!success) success = bool_at(payload, "/tool_result/output/success");
    call.state_event = success == false ? "Error" : "PostToolUse";
  }
  return call;
}

ToolCall cline_pre_tool_use(const Json& payload, ToolCall call) {
  apply_hook_object(member(payload, "preToolUse"), call);
  return call;
}

Json parse_tool_args(const Json& value) {
  if (!value.is_string()) return value;
  const auto& text = value.get_ref<const std::string&>();
  auto parsed = parse_json(text);
  if (parsed) return parsed.take();
  return Json{{"raw", text}};
}

namespace {

constexpr std::string_view kListMembers[] = {"commands",  "files", "paths",   "file_paths",
                                             "filePaths", "edits", "patches", "urls"};
constexpr std::string_view kFileEntryKeys[] = {"path", "file_path", "filePath"};

// JSON text in a list member becomes the value it spells; anything else stays.
void parse_list_member(Json& input, std::string_view name) {
  auto it = input.find(name);
  if (it == input.end() || !it->is_string()) return;
  std::string_view trimmed = utf8::trim(it->get_ref<const std::string&>());
  if (trimmed.empty() || (trimmed[0] != '[' && trimmed[0] != '{')) return;
  auto parsed = parse_json(trimmed);
  if (parsed) *it = parsed.take();
}

std::optional<std::string> command_from(const Json& commands) {
  if (commands.is_string()) {
    const auto& s = commands.get_ref<const std::string&>();
    if (utf8::is_blank(s)) return std::nullopt;
    return s;
  }
  if (!commands.is_array()) return std::nullopt;
  std::string joined;
  bool any = false;
  for (const auto& element : commands) {
    std::string piece = element.is_string() ? element.get<std::string>() : to_json_text(element);
    if (utf8::is_blank(piece)) continue;
    if (any) joined.push_back('\n');
    joined += piece;
    any = true;
  }
  if (joined.empty()) return std::nullopt;
  return joined;
}

// The text a "files" element names: itself, or the first file entry key of an object.
std::optional<std::string> file_entry_path(const Json& element) {
  if (element.is_string()) return element.get<std::string>();
  if (!element.is_object()) return std::nullopt;
  for (std::string_view key : kFileEntryKeys) {
    if (const Json* v = member(element, key)) {
      if (v->is_string()) return v->get<std::string>();
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::string> path_from(const Json& files) {
  if (!files.is_array()) return std::nullopt;
  for (const auto& element : files) {
    if (auto path = file_entry_path(element)) {
      if (utf8::is_blank(*path)) return std::nullopt;
      return path;
    }
  }
  return std::nullopt;
}

}  // namespace

Json normalize_tool_input_for_display(Json input) {
  if (!input.is_object()) return input;
  for (std::string_view name : kListMembers) parse_list_member(input, name);
  if (!has_member(input, "command")) {
    if (const Json* commands = member(input, "commands")) {
      if (auto command = command_from(*commands)) input["command"] = std::move(*command);
    }
  }
  if (!has_member(input, "path")) {
    if (const Json* files = member(input, "files")) {
      if (auto path = path_from(*files)) input["path"] = std::move(*path);
    }
  }
  return input;
}

}  // namespace ombrel::hook
