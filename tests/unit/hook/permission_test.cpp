#include "permission.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

Json j(const char* text) {
  return Json::parse(text);
}

// The outcome as one comparable text: the printed JSON, "stderr:MSG", "quiet" or "passthrough".
std::string describe(const EmitOutcome& outcome) {
  if (auto* p = std::get_if<EmitOutcome::Print>(&outcome.kind)) return to_json_text(p->value);
  if (auto* d = std::get_if<EmitOutcome::DenyOnStderr>(&outcome.kind))
    return "stderr:" + d->message;
  if (std::holds_alternative<EmitOutcome::Quiet>(outcome.kind)) return "quiet";
  return "passthrough";
}

enum class Behavior { kAllow, kDeny, kPassthrough, kOther };

// Every behavior text the desktop might send, with the class the dialects treat it as.
const std::pair<std::optional<std::string>, Behavior> kBehaviors[] = {
    {"allow", Behavior::kAllow},
    {"deny", Behavior::kDeny},
    {"passthrough", Behavior::kPassthrough},
    {std::nullopt, Behavior::kOther},
    {"ask", Behavior::kOther},
    {"Deny", Behavior::kOther},
    {"answer:0", Behavior::kOther},
    {"", Behavior::kOther},
};

struct Dialect {
  const char* name;
  const char* source;
  bool cursor_client;
  bool has_cursor_version;
  const char* raw_event;
  std::optional<std::string> hook_event_name;
  // Expected outcome per class: allow, deny, passthrough, other.
  std::string allow, deny, passthrough, other;
};

TEST(Permission, DialectMatrix) {
  const std::string hso_allow_pre =
      R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"}})";
  const std::string hso_deny_pre =
      R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"}})";
  const Dialect dialects[] = {
      {"cursor client", "cursor", true, false, "preToolUse", std::nullopt,
       R"({"permission":"allow"})",
       R"({"agent_message":"Denied by Ombrel","permission":"deny","user_message":"Ombrel denied this action"})",
       R"({"permission":"allow"})", R"({"permission":"allow"})"},
      {"cursor client wins over cursor version", "cursor", true, true, "x", "Stop",
       R"({"permission":"allow"})",
       R"({"agent_message":"Denied by Ombrel","permission":"deny","user_message":"Ombrel denied this action"})",
       R"({"permission":"allow"})", R"({"permission":"allow"})"},
      {"cursor version ignores the event name", "cursor", false, true, "x", "Stop", hso_allow_pre,
       hso_deny_pre, hso_allow_pre, hso_allow_pre},
      {"cursor version beats the source dialect", "kiro", false, true, "x", std::nullopt,
       hso_allow_pre, hso_deny_pre, hso_allow_pre, hso_allow_pre},
      {"copilot permission request", "copilot", false, false, "permissionRequest", std::nullopt,
       R"({"behavior":"allow"})", R"({"behavior":"deny","message":"Denied by Ombrel"})",
       R"({"behavior":"allow"})", R"({"behavior":"allow"})"},
      {"copilot pre tool use", "copilot", false, false, "preToolUse", "PreToolUse",
       R"({"permissionDecision":"allow"})",
       R"({"permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"})",
       R"({"permissionDecision":"ask"})", R"({"permissionDecision":"allow"})"},
      {"gemini", "gemini", false, false, "BeforeTool", "BeforeTool", R"({"decision":"allow"})",
       R"({"decision":"deny","reason":"Denied by Ombrel"})", R"({"decision":"allow"})",
       R"({"decision":"allow"})"},
      {"cline", "cline", false, false, "PreToolUse", std::nullopt, R"({"cancel":false})",
       R"({"cancel":true,"errorMessage":"Denied by Ombrel"})", R"({"cancel":false})",
       R"({"cancel":false})"},
      {"codex default event", "codex", false, false, "PermissionRequest", std::nullopt,
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},"hookEventName":"PermissionRequest"}})",
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"Denied by Ombrel"},"hookEventName":"PermissionRequest"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest"}})"},
      {"codex own event", "codex", false, false, "x", "PreToolUse",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},"hookEventName":"PreToolUse"}})",
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"Denied by Ombrel"},"hookEventName":"PreToolUse"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse"}})"},
      {"qoder", "qoder", false, false, "PreToolUse", std::nullopt, hso_allow_pre, hso_deny_pre,
       R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask"}})",
       hso_allow_pre},
      {"codebuddy own event", "codebuddy", false, false, "PreToolUse", "PermissionRequest",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","permissionDecision":"allow"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","permissionDecision":"ask"}})",
       R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","permissionDecision":"allow"}})"},
      {"workbuddy", "workbuddy", false, false, "PreToolUse", std::nullopt,
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"},"permissionDecision":"allow"})",
       R"({"continue":false,"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"},"permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"})",
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"},"permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"})",
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"},"permissionDecision":"allow"})"},
      {"workbuddy own event", "workbuddy", false, false, "PreToolUse", "E",
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"E","permissionDecision":"allow"},"permissionDecision":"allow"})",
       R"({"continue":false,"hookSpecificOutput":{"hookEventName":"E","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"},"permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"})",
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"E","permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"},"permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"})",
       R"({"continue":true,"hookSpecificOutput":{"hookEventName":"E","permissionDecision":"allow"},"permissionDecision":"allow"})"},
      {"kimi", "kimi", false, false, "PreToolUse", "PreToolUse", "quiet", hso_deny_pre, "quiet",
       "quiet"},
      {"kiro", "kiro", false, false, "preToolUse", std::nullopt, "quiet", "stderr:Denied by Ombrel",
       "quiet", "quiet"},
      {"reasonix", "reasonix", false, false, "PreToolUse", "PreToolUse", "quiet",
       "stderr:Denied by Ombrel", "quiet", "quiet"},
      {"claude", "claude", false, false, "PermissionRequest", "PermissionRequest", "passthrough",
       "passthrough", "passthrough", "passthrough"},
      {"claude-code", "claude-code", false, false, "PreToolUse", std::nullopt, "passthrough",
       "passthrough", "passthrough", "passthrough"},
      {"cursor as a source name only", "cursor", false, false, "preToolUse", std::nullopt,
       "passthrough", "passthrough", "passthrough", "passthrough"},
      {"case matters", "Gemini", false, false, "BeforeTool", std::nullopt, "passthrough",
       "passthrough", "passthrough", "passthrough"},
  };
  for (const auto& d : dialects) {
    for (const auto& [behavior, kind] : kBehaviors) {
      EmitInput in{d.source, d.cursor_client, d.has_cursor_version,
                   behavior, d.raw_event,     d.hook_event_name};
      const std::string& want = kind == Behavior::kAllow         ? d.allow
                                : kind == Behavior::kDeny        ? d.deny
                                : kind == Behavior::kPassthrough ? d.passthrough
                                                                 : d.other;
      EXPECT_EQ(describe(permission_emit(in)), want)
          << d.name << " / " << behavior.value_or("<absent>");
    }
  }
}

TEST(Permission, DecisionOutputBuilders) {
  EXPECT_EQ(to_json_text(permission_decision_output("PreToolUse", "ask", false)),
            R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask"}})");
  EXPECT_EQ(
      to_json_text(permission_decision_output("E", "deny", true)),
      R"({"hookSpecificOutput":{"hookEventName":"E","permissionDecision":"deny","permissionDecisionReason":"Denied by Ombrel"}})");
  EXPECT_EQ(
      to_json_text(permission_decision_output_with_reason("PreToolUse", "ask", kPassToClient)),
      R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"}})");
}

TEST(Permission, PassthroughAsksOnlyWhereThePreToolUseShapeFits) {
  const std::string ask =
      R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Ombrel: pass to client"}})";
  const std::pair<const char*, std::string> cases[] = {
      {"preToolUse", ask},           {"BeforeTool", ask},     {"PermissionRequest", "none"},
      {"permissionRequest", "none"}, {"Elicitation", "none"},
  };
  for (const auto& [event, want] : cases) {
    auto out = passthrough_ask_output(event);
    EXPECT_EQ(out ? to_json_text(*out) : "none", want) << event;
  }
}

TEST(Permission, ChoiceOptionLabel) {
  struct Case {
    const char* option;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {R"(" a ")", "a"},
      {R"("  ")", std::nullopt},
      {R"({"label":" B "})", "B"},
      {R"({"value":"","text":"T"})", "T"},
      {R"({"label":5,"value":"v"})", "v"},
      {R"({"description":"\u3000d\u00a0"})", "d"},
      {R"({"name":"n"})", std::nullopt},
      {"7", std::nullopt},
      {"null", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(choice_option_label(j(c.option)), c.want) << c.option;
}

TEST(Permission, AskUserQuestionOutput) {
  const char* input =
      R"({"questions":[{"question":" Which? ","options":["a",{"label":" B "},"  "]}],"other":1})";
  struct Case {
    const char* name;
    const char* source;
    const char* tool;
    const char* display_input;
    std::optional<std::string> behavior;
    const char* payload;
    const char* want;  // nullptr: nothing
  };
  const Case cases[] = {
      {"answer picked, texts trimmed, questions untouched", "Claude-Code", "AskUserQuestion", input,
       "answer:1", "{}",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Which?":"B"},"other":1,"questions":[{"options":["a",{"label":" B "},"  "],"question":" Which? "}]}},"hookEventName":"PermissionRequest"}})"},
      {"choice prefix and the payload's event", "claude", "askuserquestion", input, "choice:0",
       R"({"hook_event_name":"PreToolUse"})",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Which?":"a"},"other":1,"questions":[{"options":["a",{"label":" B "},"  "],"question":" Which? "}]}},"hookEventName":"PreToolUse"}})"},
      {"plus sign", "claude", "AskUserQuestion", input, "answer:+1", "{}",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Which?":"B"},"other":1,"questions":[{"options":["a",{"label":" B "},"  "],"question":" Which? "}]}},"hookEventName":"PermissionRequest"}})"},
      {"earlier answers kept, same question replaced", "claude", "AskUserQuestion",
       R"({"answers":{"Earlier?":"yes","Which?":"old"},"questions":[{"question":"Which?","options":["a"]}]})",
       "answer:0", "{}",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Earlier?":"yes","Which?":"a"},"questions":[{"options":["a"],"question":"Which?"}]}},"hookEventName":"PermissionRequest"}})"},
      {"answers not an object are replaced", "claude", "AskUserQuestion",
       R"({"answers":[1],"questions":[{"question":"Q","options":["a"]}]})", "answer:0", "{}",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Q":"a"},"questions":[{"options":["a"],"question":"Q"}]}},"hookEventName":"PermissionRequest"}})"},
      {"blank option", "claude", "AskUserQuestion", input, "choice:2", "{}", nullptr},
      {"index equal to the count", "claude", "AskUserQuestion", input, "answer:3", "{}", nullptr},
      {"negative", "claude", "AskUserQuestion", input, "answer:-1", "{}", nullptr},
      {"empty index", "claude", "AskUserQuestion", input, "answer:", "{}", nullptr},
      {"sign alone", "claude", "AskUserQuestion", input, "answer:+", "{}", nullptr},
      {"not a number", "claude", "AskUserQuestion", input, "answer:x", "{}", nullptr},
      {"trailing text", "claude", "AskUserQuestion", input, "answer:1 ", "{}", nullptr},
      {"beyond 64 bits", "claude", "AskUserQuestion", input, "answer:18446744073709551616", "{}",
       nullptr},
      {"largest index", "claude", "AskUserQuestion", input, "answer:18446744073709551615", "{}",
       nullptr},
      {"capital prefix", "claude", "AskUserQuestion", input, "Answer:1", "{}", nullptr},
      {"plain allow", "claude", "AskUserQuestion", input, "allow", "{}", nullptr},
      {"absent", "claude", "AskUserQuestion", input, std::nullopt, "{}", nullptr},
      {"other agent", "codex", "AskUserQuestion", input, "answer:1", "{}", nullptr},
      {"other tool", "claude", "Bash", input, "answer:1", "{}", nullptr},
      {"blank question", "claude", "AskUserQuestion",
       R"({"questions":[{"question":" ","options":["a"]}]})", "answer:0", "{}", nullptr},
      {"no questions", "claude", "AskUserQuestion", R"({"questions":[]})", "answer:0", "{}",
       nullptr},
      {"options not a list", "claude", "AskUserQuestion",
       R"({"questions":[{"question":"Q","options":"a"}]})", "answer:0", "{}", nullptr},
  };
  for (const auto& c : cases) {
    auto out =
        ask_user_question_output(c.source, c.tool, j(c.display_input), c.behavior, j(c.payload));
    if (c.want == nullptr) {
      EXPECT_FALSE(out.has_value()) << c.name;
    } else {
      ASSERT_TRUE(out.has_value()) << c.name;
      EXPECT_EQ(to_json_text(*out), c.want) << c.name;
    }
  }
}

}  // namespace
}  // namespace ombrel::hook
