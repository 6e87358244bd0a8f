// Agents' own event vocabularies reaching the desktop, through the real binary.
#include <gtest/gtest.h>

#include "hook_runner.hpp"

namespace ombrel::test {
namespace {

std::string member_text(const std::string& body, const std::string& name) {
  // The compact JSON text of one top-level member of a report (reports are flat enough
  // for this: the members checked here hold strings or small objects).
  std::string key = "\"" + name + "\":";
  std::size_t at = body.find(key);
  if (at == std::string::npos) return "<missing>";
  at += key.size();
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = at; i < body.size(); ++i) {
    char c = body[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"')
      in_string = true;
    else if (c == '{' || c == '[')
      ++depth;
    else if (c == '}' || c == ']') {
      if (depth == 0) return body.substr(at, i - at);
      --depth;
    } else if (c == ',' && depth == 0) {
      return body.substr(at, i - at);
    }
  }
  return body.substr(at);
}

TEST(HookEvents, ReportedUnderTheirStateEvent) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string want_event;
    std::string want_tool;   // JSON text of "tool_name"
    std::string want_input;  // JSON text of "tool_input"
    std::string want_out;
  };
  const Case cases[] = {
      {"cline failed tool result",
       {"--source", "cline"},
       R"({"hookName":"tool_result","tool_result":{"name":"write_to_file","input":{"path":"a.txt"},"output":{"success":false}}})",
       R"("Error")",
       R"("write_to_file")",
       R"({"path":"a.txt"})",
       R"({"cancel":false})"},
      {"cline post tool use with parameters",
       {"--source", "cline"},
       R"({"hookName":"PostToolUse","postToolUse":{"toolName":"execute_command","parameters":{"commands":"[\"npm test\"]"},"success":true}})",
       R"("PostToolUse")",
       R"("execute_command")",
       R"({"command":"npm test","commands":["npm test"]})",
       R"({"cancel":false})"},
      {"cline task start",
       {"--source", "cline"},
       R"({"hookName":"TaskStart","taskId":"t1"})",
       R"("SessionStart")",
       "null",
       "null",
       R"({"cancel":false})"},
      {"gemini after tool",
       {"--source", "gemini"},
       R"({"hook_event_name":"AfterTool","tool_name":"run_shell_command","tool_input":{"command":"ls"}})",
       R"("AfterTool")",
       R"("run_shell_command")",
       R"({"command":"ls"})",
       R"({"decision":"allow"})"},
      {"gemini tool permission notification",
       {"--source", "gemini"},
       R"({"hook_event_name":"Notification","notification_type":"ToolPermission"})",
       R"("PermissionRequest")",
       "null",
       "null",
       ""},
      {"copilot camel case with event option",
       {"--source", "copilot", "--event", "postToolUse"},
       R"({"toolName":"bash","toolArgs":"{\"command\":\"ls\"}"})",
       R"("PostToolUse")",
       R"("bash")",
       R"({"command":"ls"})",
       ""},
      {"copilot idle notification",
       {"--source", "copilot"},
       R"({"hook_event_name":"Notification","notification_type":"agent_idle"})",
       R"("SessionStart")",
       "null",
       "null",
       ""},
      {"cursor after agent thought",
       {"--source", "cursor"},
       R"({"hook_event_name":"afterAgentThought"})",
       R"("Thinking")",
       "null",
       "null",
       ""},
      {"kiro agent spawn",
       {"--source", "kiro"},
       R"({"hook_event_name":"agentSpawn"})",
       R"("SessionStart")",
       "null",
       "null",
       ""},
      {"codebuddy idle prompt",
       {"--source", "codebuddy"},
       R"({"hook_event_name":"Notification","notification_type":"idle_prompt"})",
       R"("SessionStart")",
       "null",
       "null",
       ""},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    auto result = run.server(server.url()).args(c.args).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, c.want_out) << c.name;
    ASSERT_EQ(server.requests().size(), 1u) << c.name;
    const std::string body = server.requests()[0].body;
    EXPECT_EQ(server.requests()[0].path, "/state") << c.name;
    EXPECT_EQ(member_text(body, "event"), c.want_event) << c.name;
    EXPECT_EQ(member_text(body, "tool_name"), c.want_tool) << c.name;
    EXPECT_EQ(member_text(body, "tool_input"), c.want_input) << c.name;
  }
}

TEST(HookEvents, DefaultAnswerEvenWithTheServerDown) {
  HookRun run;
  auto result = run.server(dead_server_url())
                    .args({"--source", "cursor"})
                    .input(R"({"hook_event_name":"beforeSubmitPrompt","conversation_id":"c1"})")
                    .run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, R"({"continue":true})");
  EXPECT_EQ(result.err, "");
}

TEST(HookEvents, BlockingEventsPostNoStateReport) {
  struct Case {
    const char* source;
    std::string input;
  };
  const Case cases[] = {
      {"kimi", R"({"hook_event_name":"PreToolUse","session_id":"k1","tool_name":"Shell"})"},
      {"claude", R"({"hook_event_name":"PermissionRequest","session_id":"c1"})"},
      {"gemini", R"({"hook_event_name":"BeforeTool","session_id":"g1"})"},
      {"cline", R"({"hookName":"tool_call","preToolUse":null})"},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    auto result = run.server(server.url()).args({"--source", c.source}).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0) << c.source;
    for (const auto& request : server.requests()) EXPECT_NE(request.path, "/state") << c.source;
  }
}

}  // namespace
}  // namespace ombrel::test
