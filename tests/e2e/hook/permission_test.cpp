// The approval exchange through the real binary: the request, every agent's answer, the
// interruptible wait and its cancellation.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "hook_runner.hpp"

namespace ombrel::test {
namespace {

using std::chrono::milliseconds;

std::string decision(const std::string& behavior) {
  return json_ok(
      R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":")" +
      behavior + R"("}}})");
}

// A desktop that answers /permission with the given bytes and acknowledges cancels.
FakeServer::Handler desktop(std::string answer, milliseconds delay = milliseconds(0)) {
  return [answer = std::move(answer), delay](const Request& r) {
    if (r.path == "/permission/cancel") return Reply{json_ok("{}")};
    Reply reply{answer};
    reply.delay = delay;
    return reply;
  };
}

TEST(HookPermission, RequestBody) {
  FakeServer server(desktop(decision("allow")));
  HookRun run;
  auto result =
      run.server(server.url())
          .args({"--source", "claude"})
          .input(
              R"({"hook_event_name":"PermissionRequest","session_id":"s1","cwd":"/w",)"
              R"("tool_name":"Bash","tool_input":{"command":"rm -rf build","description":"clean"}})")
          .run();
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(server.requests().size(), 1u);
  const auto request = server.requests()[0];
  EXPECT_EQ(request.path, "/permission");
  // No id in the payload: one is synthesised from session, turn, tool and canonical input.
  EXPECT_EQ(
      request.body,
      R"({"cwd":"/w","hook_version":"0.4.2","pid":)" + std::to_string(getpid()) +
          R"(,"session_id":"s1","source":"claude","tool_input":{"command":"rm -rf build","description":"clean"},)"
          R"("tool_name":"Bash","tool_use_id":"s1:-:Bash:)" +
          request.body.substr(request.body.find(R"(s1:-:Bash:)") + 10, 12) +
          R"(","transcript_path":null})");
  std::string hash = request.body.substr(request.body.find(R"(s1:-:Bash:)") + 10, 12);
  EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos) << hash;
}

TEST(HookPermission, RequestDefaultsAndOverrides) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> fragments;
  };
  const Case cases[] = {
      {"no session gives default",
       {"--source", "kimi"},
       R"({"hook_event_name":"PreToolUse","tool_name":"Shell"})",
       {R"("session_id":"default")", R"("tool_use_id":"default:-:Shell:)"}},
      {"empty session is a session",
       {"--source", "kimi"},
       R"({"hook_event_name":"PreToolUse","session_id":""})",
       {R"("session_id":"")", R"("tool_name":"")"}},
      {"numeric session",
       {"--source", "qoder"},
       R"({"hook_event_name":"PreToolUse","session_id":42})",
       {R"("session_id":"42")"}},
      {"cline pre tool use",
       {"--source", "cline"},
       R"({"hookName":"PreToolUse","taskId":"t","tool_name":"x","tool_input":{"a":1},"preToolUse":{"tool":"execute_command","parameters":{"commands":["ls"]}}})",
       {R"("tool_name":"execute_command")", R"("tool_input":{"command":"ls","commands":["ls"]})",
        R"("session_id":"t")"}},
      {"toolArgs text",
       {"--source", "copilot", "--event", "preToolUse"},
       R"({"toolName":"bash","toolArgs":"{\"command\":\"ls\"}"})",
       {R"("tool_input":{"command":"ls"})"}},
      {"payload id kept",
       {"--source", "claude"},
       R"({"hook_event_name":"PermissionRequest","tool_use_id":"toolu_9","tool_name":"Bash"})",
       {R"("tool_use_id":"toolu_9")"}},
  };
  for (const auto& c : cases) {
    FakeServer server(desktop(decision("allow")));
    HookRun run;
    run.server(server.url()).args(c.args).input(c.input).run();
    ASSERT_EQ(server.requests().size(), 1u) << c.name;
    for (const auto& fragment : c.fragments) {
      EXPECT_NE(server.requests()[0].body.find(fragment), std::string::npos)
          << c.name << ": " << fragment << " in " << server.requests()[0].body;
    }
  }
}

TEST(HookPermission, EveryAgentGetsItsOwnAnswer) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string behavior;
    std::string want_out;
    std::string want_err;
    int want_status;
  };
  const std::string pre = R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash"})";
  const Case cases[] = {
      {"cursor allow",
       {"--source", "cursor"},
       R"({"hook_event_name":"preToolUse","conversation_id":"c"})",
       "allow",
       R"({"permission":"allow"})",
       "",
       0},
      {"cursor deny",
       {"--source", "cursor"},
       R"({"hook_event_name":"preToolUse","conversation_id":"c"})",
       "deny",
       R"({"agent_message":"Denied by Ombrel","permission":"deny","user_message":"Ombrel denied this action"})",
       "",
       0},
      {"claude-format cursor payload",
       {"--source", "claude"},
       R"({"hook_event_name":"preToolUse","cursor_version":"1.7","tool_name":"Shell"})",
       "passthrough",
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"}})",
       "",
       0},
      {"gemini deny",
       {"--source", "gemini"},
       R"({"hook_event_name":"BeforeTool","session_id":"g"})",
       "deny",
       R"({"decision":"deny","reason":"Denied by Ombrel"})",
       "",
       0},
      {"copilot permission request allow",
       {"--source", "copilot", "--event", "permissionRequest"},
       R"({"toolName":"bash"})",
       "allow",
       R"({"behavior":"allow"})",
       "",
       0},
      {"copilot passthrough",
       {"--source", "copilot", "--event", "preToolUse"},
       R"({"toolName":"bash"})",
       "passthrough",
       R"({"permissionDecision":"ask"})",
       "",
       0},
      {"cline deny",
       {"--source", "cline"},
       R"({"hookName":"PreToolUse","taskId":"t"})",
       "deny",
       R"({"cancel":true,"errorMessage":"Denied by Ombrel"})",
       "",
       0},
      {"codex passthrough",
       {"--source", "codex"},
       R"({"hook_event_name":"PermissionRequest","session_id":"x"})",
       "passthrough",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest"}})",
       "",
       0},
      {"qoder passthrough",
       {"--source", "qoder"},
       pre,
       "passthrough",
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask"}})",
       "",
       0},
      {"workbuddy deny",
       {"--source", "workbuddy", "--event", "PreToolUse"},
       R"({"session_id":"w","tool_name":"Bash"})",
       "deny",
       R"({"continue":false,"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"},"permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"})",
       "",
       0},
      {"kimi allow is quiet", {"--source", "kimi"}, pre, "allow", "", "", 0},
      {"kiro deny on stderr",
       {"--source", "kiro"},
       R"({"hook_event_name":"preToolUse","session_id":"k"})",
       "deny",
       "",
       "Denied by Ombrel\n",
       2},
      {"reasonix allow is quiet", {"--source", "reasonix"}, pre, "allow", "", "", 0},
      {"claude passthrough on a permission request leaves Claude's own prompt",
       {"--source", "claude"},
       R"({"hook_event_name":"PermissionRequest"})",
       "passthrough",
       "",
       "",
       0},
      {"passthrough asks on a PreToolUse-style event",
       {"--source", "claude"},
       R"({"hook_event_name":"preToolUse"})",
       "passthrough",
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"}})",
       "",
       0},
      {"claude allow relayed",
       {"--source", "claude"},
       R"({"hook_event_name":"PermissionRequest"})",
       "allow",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},"hookEventName":"PermissionRequest"}})",
       "",
       0},
  };
  for (const auto& c : cases) {
    FakeServer server(desktop(decision(c.behavior)));
    HookRun run;
    auto result = run.server(server.url()).args(c.args).input(c.input).run();
    EXPECT_EQ(result.exit_code, c.want_status) << c.name;
    EXPECT_EQ(result.out, c.want_out) << c.name;
    EXPECT_EQ(result.err, c.want_err) << c.name;
    EXPECT_EQ(server.requests().size(), 1u) << c.name;
  }
}

TEST(HookPermission, PassthroughHandlingOfTheDesktopsAnswer) {
  struct Case {
    const char* name;
    std::string answer;
    std::string want_out;
    const char* passthrough_log;  // the last log line, or nullptr when the answer was relayed
  };
  const char* silent = "[claude] passthrough - no output, letting client decide";
  const Case cases[] = {
      {"own answer relayed with sorted members",
       json_ok(
           R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"updatedInput":{"b":1,"a":2},"behavior":"allow"}}})"),
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"a":2,"b":1}},"hookEventName":"PermissionRequest"}})",
       nullptr},
      {"empty answer", json_ok("{}"), "", silent},
      {"not json", json_ok("ok"), "", silent},
      {"no content", "HTTP/1.1 204 No Content\r\n\r\n", "", silent},
      {"array answer", json_ok("[1]"), "", silent},
      {"passthrough", decision("passthrough"), "",
       "[claude] passthrough on PermissionRequest - no output, the agent's own prompt decides"},
      {"unknown behavior relayed",
       json_ok(R"({"hookSpecificOutput":{"decision":{"behavior":"later"}}})"),
       R"({"hookSpecificOutput":{"decision":{"behavior":"later"}}})", nullptr},
      {"non-string behavior relayed",
       json_ok(R"({"hookSpecificOutput":{"decision":{"behavior":1}}})"),
       R"({"hookSpecificOutput":{"decision":{"behavior":1}}})", nullptr},
  };
  for (const auto& c : cases) {
    FakeServer server(desktop(c.answer));
    HookRun run;
    auto result = run.server(server.url())
                      .args({"--source", "claude"})
                      .input(R"({"hook_event_name":"PermissionRequest","session_id":"s"})")
                      .run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, c.want_out) << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    auto log = run.log_messages();
    ASSERT_FALSE(log.empty());
    if (c.passthrough_log != nullptr) {
      EXPECT_EQ(log.back(), c.passthrough_log) << c.name;
    } else {
      EXPECT_EQ(log.back().find("passthrough"), std::string::npos) << c.name << ": " << log.back();
    }
  }
}

TEST(HookPermission, QuestionAnswered) {
  FakeServer server(desktop(decision("answer:1")));
  HookRun run;
  auto result =
      run.server(server.url())
          .args({"--source", "claude"})
          .input(
              R"({"hook_event_name":"PermissionRequest","session_id":"s","tool_name":"AskUserQuestion",)"
              R"("tool_input":{"questions":[{"question":"Which database?","options":[{"label":"SQLite"},{"label":"Postgres"}]}]}})")
          .run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(
      result.out,
      R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Which database?":"Postgres"},)"
      R"("questions":[{"options":[{"label":"SQLite"},{"label":"Postgres"}],"question":"Which database?"}]}},)"
      R"("hookEventName":"PermissionRequest"}})");
}

TEST(HookPermission, DenyTraceAndResponseLines) {
  FakeServer server(desktop(decision("deny")));
  HookRun run;
  run.server(server.url())
      .args({"--source", "kiro"})
      .input(
          R"({"hook_event_name":"preToolUse","session_id":"k1","tool_name":"fs_write","tool_use_id":"id9"})")
      .run();
  auto log = run.log_messages();
  auto has = [&](const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  };
  EXPECT_TRUE(
      has("[kiro] PERMISSION stdin keys: hook_event_name, session_id, tool_name, tool_use_id"));
  EXPECT_TRUE(has(
      R"([kiro] PERMISSION response: {"hookSpecificOutput":{"decision":{"behavior":"deny"},"hookEventName":"PermissionRequest"}})"));
  EXPECT_TRUE(has(
      R"([OM_TRACE][approval:hook_deny_output] source=kiro event=preToolUse session=k1 tool=fs_write id="id9")"));
}

TEST(HookPermission, CopilotNarrativeToolAllowedAtOnce) {
  struct Case {
    const char* event;
    const char* want;
  };
  const Case cases[] = {{"permissionRequest", R"({"behavior":"allow"})"},
                        {"preToolUse", R"({"permissionDecision":"allow"})"}};
  for (const auto& c : cases) {
    FakeServer server(desktop(decision("deny")));
    HookRun run;
    auto result = run.server(server.url())
                      .args({"--source", "copilot", "--event", c.event})
                      .input(R"({"toolName":"report_intent"})")
                      .run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, c.want);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(run.log_messages().back(),
              std::string("[copilot] auto-allow report_intent (narrative tool) event=") + c.event);
  }
}

TEST(HookPermission, DesktopFailures) {
  struct Case {
    const char* name;
    std::string url;
    std::string want_err;
  };
  FakeServer busy(desktop("HTTP/1.1 409 Conflict\r\n\r\nbusy"));
  const Case cases[] = {
      {"down", dead_server_url(), "[ombrel-hook] Error: Connection refused\n"},
      {"busy", busy.url(), "[ombrel-hook] Error: HTTP 409: busy\n"},
  };
  for (const auto& c : cases) {
    HookRun run;
    auto result = run.server(c.url)
                      .args({"--source", "gemini"})
                      .input(R"({"hook_event_name":"BeforeTool","session_id":"g"})")
                      .run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, "{}") << c.name;
    EXPECT_EQ(result.err, c.want_err) << c.name;
    EXPECT_EQ(run.log_messages().back(),
              "[gemini] ERROR: " + c.want_err.substr(21, c.want_err.size() - 22))
        << c.name;
  }
}

TEST(HookPermission, LateAnswerReturnedPromptly) {
  FakeServer server(desktop(decision("allow"), milliseconds(3000)));
  HookRun run;
  auto started = std::chrono::steady_clock::now();
  auto result = run.server(server.url())
                    .args({"--source", "gemini"})
                    .input(R"({"hook_event_name":"BeforeTool","session_id":"g"})")
                    .run();
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result.out, R"({"decision":"allow"})");
  EXPECT_GE(elapsed, milliseconds(3000));
  EXPECT_LT(elapsed, milliseconds(6000));  // generous: only a stuck wait would exceed it
}

TEST(HookPermission, SignalDuringTheWaitCancels) {
  struct Case {
    const char* name;
    int signal;
    std::string input;
    bool cancel_answers;
    std::optional<std::string> want_cancel_body;
  };
  const Case cases[] = {
      {"term with session", SIGTERM,
       R"({"hook_event_name":"PermissionRequest","session_id":"abc"})", true,
       R"({"session_id":"abc"})"},
      {"int with empty session", SIGINT,
       R"({"hook_event_name":"PermissionRequest","session_id":""})", true, R"({"session_id":""})"},
      {"hup with task id", SIGHUP, R"({"hook_event_name":"PermissionRequest","taskId":"t9"})", true,
       R"({"session_id":"t9"})"},
      {"no session, no cancel", SIGINT, R"({"hook_event_name":"PermissionRequest"})", true,
       std::nullopt},
      {"cancel never answered", SIGTERM,
       R"({"hook_event_name":"PermissionRequest","session_id":"abc"})", false,
       R"({"session_id":"abc"})"},
  };
  for (const auto& c : cases) {
    FakeServer server([&](const Request& r) {
      Reply reply{json_ok("{}")};
      if (r.path == "/permission" || !c.cancel_answers) reply.never_answer = true;
      return reply;
    });
    HookRun run;
    run.server(server.url()).args({"--source", "claude"}).input(c.input);
    ChildProcess child = run.start();
    ASSERT_TRUE(server.wait_for_requests(1)) << c.name;
    auto signalled = std::chrono::steady_clock::now();
    child.send_signal(c.signal);
    auto result = child.wait();
    auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_EQ(result.term_signal, 0) << c.name;
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, "") << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    EXPECT_LT(took, milliseconds(3000)) << c.name;  // 500 ms cancel limit, with ample slack
    auto requests = server.requests();
    if (c.want_cancel_body) {
      ASSERT_EQ(requests.size(), 2u) << c.name;
      EXPECT_EQ(requests[1].path, "/permission/cancel") << c.name;
      EXPECT_EQ(requests[1].body, *c.want_cancel_body) << c.name;
      EXPECT_EQ(run.log_messages().back(),
                "[claude] terminated - cancelling approvals for session " +
                    c.want_cancel_body->substr(15, c.want_cancel_body->size() - 17))
          << c.name;
    } else {
      EXPECT_EQ(requests.size(), 1u) << c.name;
    }
  }
}

}  // namespace
}  // namespace ombrel::test
