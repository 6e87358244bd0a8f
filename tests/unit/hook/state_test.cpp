#include "state.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

Json j(const char* text) {
  return Json::parse(text);
}

TEST(State, IsBlocking) {
  struct Case {
    const char* source;
    const char* event;
    const char* payload;
    bool want;
  };
  const Case cases[] = {
      // Events that block whatever the agent.
      {"claude", "preToolUse", "{}", true},
      {"whatever", "BeforeTool", "{}", true},
      {"claude", "Elicitation", "{}", true},
      {"claude", "PermissionRequest", "{}", true},
      {"copilot", "permissionRequest", "{}", true},
      {"", "PermissionRequest", "{}", true},
      // PreToolUse blocks only for the agents that wait on it.
      {"claude", "PreToolUse", "{}", false},
      {"codex", "PreToolUse", "{}", false},
      {"cursor", "PreToolUse", "{}", false},
      {"kimi", "PreToolUse", "{}", true},
      {"qoder", "PreToolUse", "{}", true},
      {"cline", "PreToolUse", "{}", true},
      {"reasonix", "PreToolUse", "{}", true},
      {"codebuddy", "PreToolUse", "{}", true},
      {"workbuddy", "PreToolUse", "{}", true},
      {"Kimi", "PreToolUse", "{}", false},
      // Cline's tool_call blocks when it carries a preToolUse member, whatever its value.
      {"cline", "tool_call", R"({"preToolUse":null})", true},
      {"cline", "tool_call", R"({"preToolUse":{}})", true},
      {"cline", "tool_call", "{}", false},
      {"claude", "tool_call", R"({"preToolUse":{}})", false},
      {"cline", "tool_call", "[]", false},
      // Case matters.
      {"claude", "permissionrequest", "{}", false},
      {"claude", "pretooluse", "{}", false},
      {"claude", "Stop", "{}", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_blocking(c.source, c.event, j(c.payload)), c.want) << c.source << " " << c.event;
  }
}

TEST(State, MapStateEventTables) {
  struct Case {
    const char* source;
    const char* event;
    const char* want;
  };
  const Case cases[] = {
      {"kiro", "stop", "Stop"},
      {"kiro", "agentSpawn", "SessionStart"},
      {"kiro", "postToolUse", "PostToolUse"},
      {"kiro", "userPromptSubmit", "UserPromptSubmit"},
      {"kiro", "Stop", "Stop"},
      {"cline", "TaskStart", "SessionStart"},
      {"cline", "TaskResume", "SessionStart"},
      {"cline", "TaskCancel", "Stop"},
      {"cline", "task_cancel", "Stop"},
      {"cline", "task_complete", "TaskComplete"},
      {"cline", "agent_end", "TaskComplete"},
      {"cline", "agent_start", "UserPromptSubmit"},
      {"cline", "tool_call", "PreToolUse"},
      {"cline", "tool_result", "PostToolUse"},
      {"cline", "TaskComplete", "TaskComplete"},
      {"cline", "UserPromptSubmit", "UserPromptSubmit"},
      {"cline", "PreCompact", "PreCompact"},
      {"cline", "Notification", "Notification"},
      {"cursor", "stop", "Stop"},
      {"cursor", "afterAgentResponse", "Stop"},
      {"cursor", "sessionStart", "SessionStart"},
      {"cursor", "sessionEnd", "SessionEnd"},
      {"cursor", "beforeSubmitPrompt", "Start"},
      {"cursor", "afterAgentThought", "Thinking"},
      {"cursor", "postToolUse", "PostToolUse"},
      {"cursor", "postToolUseFailure", "PostToolUse"},
      {"cursor", "preCompact", "PreCompact"},
      {"cursor", "subagentStart", "SubagentStart"},
      {"cursor", "subagentStop", "SubagentStop"},
      {"copilot", "stop", "Stop"},
      {"copilot", "agentStop", "Stop"},
      {"copilot", "agentEnd", "Stop"},
      {"copilot", "sessionStart", "SessionStart"},
      {"copilot", "sessionEnd", "SessionEnd"},
      {"copilot", "agentStart", "Start"},
      {"copilot", "userPromptSubmitted", "UserPromptSubmit"},
      {"copilot", "postToolUse", "PostToolUse"},
      {"copilot", "postToolUseFailure", "Error"},
      {"copilot", "errorOccurred", "Error"},
      {"copilot", "preCompact", "PreCompact"},
      {"copilot", "subagentStart", "SubagentStart"},
      {"copilot", "subagentStop", "SubagentStop"},
      {"copilot", "notification", "Notification"},
      {"copilot", "Notification", "Notification"},
      {"gemini", "AfterTool", "AfterTool"},
      {"gemini", "Notification", "Notification"},
      {"gemini", "notification", "notification"},
      {"codebuddy", "Notification", "Notification"},
      {"workbuddy", "Stop", "Stop"},
      {"claude", "PostToolUse", "PostToolUse"},
      // Names are case-sensitive; unknown events and sources pass through unchanged.
      {"Cursor", "stop", "stop"},
      {"cursor", "Stop", "Stop"},
      {"kiro", "somethingNew", "somethingNew"},
      {"cline", "", ""},
      {"unknown", "Unknown", "Unknown"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(map_state_event(c.source, c.event, j("{}")), c.want) << c.source << " " << c.event;
  }
}

TEST(State, MapStateEventFollowUps) {
  struct Case {
    const char* name;
    const char* source;
    const char* event;
    const char* payload;
    const char* want;
  };
  const Case cases[] = {
      {"copilot agent idle", "copilot", "notification", R"({"notification_type":"agent_idle"})",
       "SessionStart"},
      {"copilot completed", "copilot", "Notification", R"({"notification_type":"agent_completed"})",
       "Stop"},
      {"copilot shell", "copilot", "notification", R"({"notification_type":"shell_completed"})",
       "PostToolUse"},
      {"copilot detached shell", "copilot", "notification",
       R"({"notification_type":"shell_detached_completed"})", "PostToolUse"},
      {"copilot permission prompt", "copilot", "notification",
       R"({"notification_type":"permission_prompt"})", "PermissionRequest"},
      {"copilot elicitation", "copilot", "notification",
       R"({"notificationType":"elicitation_dialog"})", "Elicitation"},
      {"copilot null type falls to camel case", "copilot", "notification",
       R"({"notification_type":null,"notificationType":"agent_idle"})", "SessionStart"},
      {"copilot first usable type wins", "copilot", "notification",
       R"({"notification_type":"other","notificationType":"agent_idle"})", "Notification"},
      {"copilot numeric type", "copilot", "notification", R"({"notification_type":5})",
       "Notification"},
      {"copilot no type", "copilot", "notification", "{}", "Notification"},
      {"gemini tool permission", "gemini", "Notification",
       R"({"notification_type":"ToolPermission"})", "PermissionRequest"},
      {"gemini reads only snake case", "gemini", "Notification",
       R"({"notificationType":"ToolPermission"})", "Notification"},
      {"gemini numeric type", "gemini", "Notification", R"({"notification_type":5})",
       "Notification"},
      {"gemini lower-case event untouched", "gemini", "notification",
       R"({"notification_type":"ToolPermission"})", "notification"},
      {"codebuddy idle", "codebuddy", "Notification", R"({"notification_type":"idle_prompt"})",
       "SessionStart"},
      {"workbuddy permission prompt", "workbuddy", "Notification",
       R"({"notification_type":"permission_prompt"})", "PermissionRequest"},
      {"codebuddy elicitation", "codebuddy", "Notification",
       R"({"notification_type":"elicitation_dialog"})", "Elicitation"},
      {"codebuddy other", "codebuddy", "Notification", R"({"notification_type":"agent_idle"})",
       "Notification"},
      {"codebuddy lower-case event", "codebuddy", "notification",
       R"({"notification_type":"idle_prompt"})", "notification"},
      {"cline post tool use failed", "cline", "PostToolUse", R"({"postToolUse":{"success":false}})",
       "Error"},
      {"cline post tool use succeeded", "cline", "PostToolUse",
       R"({"postToolUse":{"success":true}})", "PostToolUse"},
      {"cline success as text", "cline", "PostToolUse", R"({"postToolUse":{"success":"false"}})",
       "PostToolUse"},
      {"cline no success", "cline", "PostToolUse", "{}", "PostToolUse"},
      {"claude notification untouched", "claude", "Notification",
       R"({"notification_type":"idle_prompt"})", "Notification"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(map_state_event(c.source, c.event, j(c.payload)), c.want) << c.name;
  EXPECT_EQ(notification_family_state("Stop", j("{}")), "Stop");
}

TEST(State, DefaultResponses) {
  struct Case {
    const char* event;
    const char* source;
    const char* want;  // nullptr: none
  };
  const Case cases[] = {
      {"TaskStart", "cline", R"({"cancel":false})"},
      {"anything", "cline", R"({"cancel":false})"},
      {"AfterTool", "gemini", R"({"decision":"allow"})"},
      {"BeforeTool", "gemini", nullptr},
      {"beforeSubmitPrompt", "cursor", R"({"continue":true})"},
      {"stop", "cursor", nullptr},
      {"AfterTool", "claude", nullptr},
      {"AfterTool", "Gemini", nullptr},
      {"PostToolUse", "claude", nullptr},
  };
  for (const auto& c : cases) {
    auto answer = get_default_response(c.event, c.source);
    if (c.want == nullptr) {
      EXPECT_FALSE(answer.has_value()) << c.source << " " << c.event;
    } else {
      ASSERT_TRUE(answer.has_value()) << c.source << " " << c.event;
      EXPECT_EQ(to_json_text(*answer), c.want) << c.source << " " << c.event;
    }
  }
}

TEST(State, ClineToolAndEvent) {
  struct Case {
    const char* name;
    const char* payload;
    const char* raw_event;
    std::optional<std::string> entry_name;
    const char* entry_input;
    std::optional<std::string> want_name;
    const char* want_input;
    const char* want_event;
  };
  const Case cases[] = {
      {"preToolUse over postToolUse",
       R"({"preToolUse":{"toolName":"A","parameters":{"x":1}},"postToolUse":{"toolName":"B","parameters":{}}})",
       "TaskStart", std::nullopt, "null", "A", R"({"x":1})", "SessionStart"},
      {"postToolUse when no preToolUse", R"({"postToolUse":{"tool":"B","parameters":[1]}})", "x",
       std::nullopt, "null", "B", "[1]", "SessionStart"},
      {"non-string toolName keeps the entry name and ignores tool",
       R"({"preToolUse":{"toolName":3,"tool":"T"}})", "x", "Entry", "null", "Entry", "null",
       "SessionStart"},
      {"hook object name overrides the top-level name", R"({"preToolUse":{"tool":"T"}})", "x",
       "Top", R"({"k":1})", "T", R"({"k":1})", "SessionStart"},
      {"parameters null replaces the input", R"({"preToolUse":{"parameters":null}})", "x",
       std::nullopt, R"({"k":1})", std::nullopt, "null", "SessionStart"},
      {"preToolUse not an object blocks postToolUse",
       R"({"preToolUse":5,"postToolUse":{"tool":"B"}})", "x", std::nullopt, "null", std::nullopt,
       "null", "SessionStart"},
      {"tool_call then tool_result",
       R"({"tool_call":{"input":{"a":1}},"tool_result":{"name":"R","input":{"b":2}}})", "x",
       std::nullopt, "null", "R", R"({"b":2})", "SessionStart"},
      {"tool_call names the tool",
       R"({"tool_call":{"name":"C","input":"i"},"tool_result":{"name":"R"}})", "x", std::nullopt,
       "null", "C", R"("i")", "SessionStart"},
      {"top-level name stops tool_call", R"({"tool_call":{"name":"C","input":"i"}})", "x", "Top",
       "null", "Top", "null", "SessionStart"},
      {"tool_result success false", R"({"tool_result":{"name":"R","output":{"success":false}}})",
       "tool_result", std::nullopt, "null", "R", "null", "Error"},
      {"first boolean decides",
       R"({"postToolUse":{"success":true},"tool_result":{"output":{"success":false}}})",
       "tool_result", std::nullopt, "null", std::nullopt, "null", "PostToolUse"},
      {"text success skipped",
       R"({"postToolUse":{"success":"false"},"tool_result":{"output":{"success":false}}})",
       "tool_result", std::nullopt, "null", std::nullopt, "null", "Error"},
      {"no success flag", "{}", "tool_result", std::nullopt, "null", std::nullopt, "null",
       "PostToolUse"},
      {"success only checked for tool_result", R"({"postToolUse":{"success":false}})", "TaskStart",
       std::nullopt, "null", std::nullopt, "null", "SessionStart"},
  };
  for (const auto& c : cases) {
    ToolCall in{c.entry_name, j(c.entry_input), "SessionStart"};
    ToolCall out = cline_tool_and_event(j(c.payload), c.raw_event, in);
    EXPECT_EQ(out.name, c.want_name) << c.name;
    EXPECT_EQ(to_json_text(out.input), c.want_input) << c.name;
    EXPECT_EQ(out.state_event, c.want_event) << c.name;
  }
}

TEST(State, ParseToolArgs) {
  struct Case {
    const char* name;
    Json in;
    const char* want;
  };
  const Case cases[] = {
      {"object text", " {\"a\":1} ", R"({"a":1})"},
      {"null text", "null", "null"},
      {"number text", "42", "42"},
      {"not json", "ls -la", R"({"raw":"ls -la"})"},
      {"blank", "  ", R"({"raw":"  "})"},
      {"two documents", "{}{}", R"({"raw":"{}{}"})"},
      {"NUL and more after the JSON", std::string("{\"a\":1}\0x", 9),
       R"({"raw":"{\"a\":1}\u0000x"})"},
      {"object unchanged", j(R"({"a":"{\"x\":1}"})"), R"({"a":"{\"x\":1}"})"},
      {"array unchanged", j("[1]"), "[1]"},
      {"null unchanged", nullptr, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_json_text(parse_tool_args(c.in)), c.want) << c.name;
}

TEST(State, NormalizeToolInputForDisplay) {
  struct Case {
    const char* name;
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"commands text becomes a list and a command", R"({"commands":"[\"ls\",\"pwd\"]"})",
       R"({"command":"ls\npwd","commands":["ls","pwd"]})"},
      {"unparsable list text kept and copied untrimmed", R"({"commands":"  [oops "})",
       R"({"command":"  [oops ","commands":"  [oops "})"},
      {"elements joined, blank dropped, others as json",
       R"({"commands":["a","  ",7,null,{"b":1}]})",
       R"({"command":"a\n7\nnull\n{\"b\":1}","commands":["a","  ",7,null,{"b":1}]})"},
      {"empty list sets nothing", R"({"commands":[]})", R"({"commands":[]})"},
      {"all blank sets nothing", R"({"commands":[" ","\n"]})", R"({"commands":[" ","\n"]})"},
      {"blank string sets nothing", R"({"commands":" "})", R"({"commands":" "})"},
      {"plain string command", R"({"commands":"make test"})",
       R"({"command":"make test","commands":"make test"})"},
      {"own command kept", R"({"command":5,"commands":["x"]})",
       R"({"command":5,"commands":["x"]})"},
      {"files give the first path", R"({"files":[{"path":7,"file_path":"no"},"a.txt","b.txt"]})",
       R"({"files":[{"file_path":"no","path":7},"a.txt","b.txt"],"path":"a.txt"})"},
      {"file entry keys in order", R"({"files":[{"filePath":"c","file_path":"b"}]})",
       R"({"files":[{"filePath":"c","file_path":"b"}],"path":"b"})"},
      {"blank first path stops the scan", R"({"files":[" ","b.txt"]})",
       R"({"files":[" ","b.txt"]})"},
      {"non-string elements skipped", R"({"files":[1,null,["x"],{"name":"n"},{"path":"p"}]})",
       R"({"files":[1,null,["x"],{"name":"n"},{"path":"p"}],"path":"p"})"},
      {"files text parsed first", R"({"files":" [\"x.c\"]"})", R"({"files":["x.c"],"path":"x.c"})"},
      {"own path kept even empty", R"({"files":["a"],"path":""})", R"({"files":["a"],"path":""})"},
      {"every list member parsed",
       R"({"urls":"[\"u\"]","edits":"{\"a\":1}","patches":"x[","paths":"[1]"})",
       R"({"edits":{"a":1},"patches":"x[","paths":[1],"urls":["u"]})"},
      {"list text with a NUL and more kept", R"({"files":"[\"a\"]\u0000[]"})",
       R"({"files":"[\"a\"]\u0000[]"})"},
      {"other members untouched", R"({"content":"[1]","file_path":"{}"})",
       R"({"content":"[1]","file_path":"{}"})"},
      {"not an object", R"("[1]")", R"("[1]")"},
      {"null", "null", "null"},
      {"array", "[1]", "[1]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_json_text(normalize_tool_input_for_display(j(c.in))), c.want) << c.name;
  }
}

}  // namespace
}  // namespace ombrel::hook
