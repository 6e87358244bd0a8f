#include "decision.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

// Option 2 has no usable label and option 3 only a description: the hook can take indexes
// 0 and 2 (options 1 and 3) but not 1, and the server must not offer what it cannot use.
ApprovalRequest request_for(const std::string& tool) {
  const Json questions = Json::parse(R"({"questions":[{"question":" Color? ","options":[
      {"label":"Red"}, "  ", {"label":7,"description":"Blue"}]}]})");
  return read_approval_request(
      Json{{"tool_name", tool},
           {"tool_input", tool == "Bash" ? Json{{"command", "make"}} : questions},
           {"session_id", 42}});
}

TEST(ReadApprovalRequest, TakesWhatThereIs) {
  ApprovalRequest bash = request_for("Bash");
  EXPECT_EQ(bash.session_id, "42");
  ASSERT_TRUE(bash.detail);
  EXPECT_EQ(bash.detail->text, "make");
  EXPECT_FALSE(bash.question);

  ApprovalRequest question = request_for("askuserquestion");
  ASSERT_TRUE(question.question);
  EXPECT_EQ(question.question->text, "Color?");
  EXPECT_EQ(question.question->options,
            (std::vector<std::optional<std::string>>{"Red", std::nullopt, "Blue"}));
  EXPECT_EQ(read_approval_request(Json::parse("[]")).tool_name, "");
}

TEST(ChooseDecision, RulesComeBeforeTheMode) {
  struct Case {
    const char* name;
    Policy policy;
    const char* tool;
    std::optional<std::string> behavior;  // nothing: the terminal decides
  };
  const Case cases[] = {
      {"allow", {Mode::Allow, {}, {}}, "Read", "allow"},
      {"deny", {Mode::Deny, {}, {}}, "Read", "deny"},
      {"passthrough", {Mode::Passthrough, {}, {}}, "Read", "passthrough"},
      {"ask leaves it to the terminal", {Mode::Ask, {}, {}}, "Read", std::nullopt},
      {"a listed tool is denied", {Mode::Ask, {"Write", "Bash"}, {}}, "Bash", "deny"},
      {"tool names match exactly", {Mode::Allow, {"Bash"}, {}}, "bash", "allow"},
      {"--answer picks the option", {Mode::Ask, {}, 3}, "AskUserQuestion", "answer:2"},
      {"--answer counts from 1", {Mode::Ask, {}, 1}, "AskUserQuestion", "answer:0"},
      {"an unlabelled option falls back to the mode",
       {Mode::Deny, {}, 2},
       "AskUserQuestion",
       "deny"},
      {"a missing option falls back to the mode",
       {Mode::Ask, {}, 4},
       "AskUserQuestion",
       std::nullopt},
      {"--answer is for questions only", {Mode::Allow, {}, 1}, "Bash", "allow"},
      {"the deny rule beats --answer",
       {Mode::Allow, {"AskUserQuestion"}, 1},
       "AskUserQuestion",
       "deny"},
  };
  for (const Case& c : cases) {
    auto decision = choose_decision(c.policy, request_for(c.tool));
    ASSERT_EQ(decision.has_value(), c.behavior.has_value()) << c.name;
    if (!decision) continue;
    EXPECT_EQ(decision->behavior, *c.behavior) << c.name;
    EXPECT_EQ(decision->message.empty(), decision->behavior != "deny") << c.name;
  }
}

TEST(ParseReply, TypedAnswers) {
  struct Case {
    const char* line;
    const char* tool;
    std::optional<std::string> behavior;
    std::string message;
  };
  const Case cases[] = {
      {"  YES \r", "Bash", "allow", ""},
      {"n", "Bash", "deny", "Denied by ombrel-devserver"},
      {"deny   not in this repo ", "Bash", "deny", "not in this repo"},
      {"p", "Bash", "passthrough", ""},
      {" 3 ", "AskUserQuestion", "answer:2", ""},  // counted from 1, sent from 0
      {"1", "AskUserQuestion", "answer:0", ""},
      {"2", "AskUserQuestion", std::nullopt, ""},  // no label
      {"4", "AskUserQuestion", std::nullopt, ""},  // no such option
      {"0", "AskUserQuestion", std::nullopt, ""},  // there is no option 0
      {"+3", "AskUserQuestion", std::nullopt, ""},
      {"0", "Bash", std::nullopt, ""},
      {"yess", "Bash", std::nullopt, ""},
      {"", "Bash", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    auto decision = parse_reply(c.line, request_for(c.tool));
    ASSERT_EQ(decision.has_value(), c.behavior.has_value()) << c.line;
    if (!decision) continue;
    EXPECT_EQ(decision->behavior, *c.behavior) << c.line;
    EXPECT_EQ(decision->message, c.message) << c.line;
  }
}

TEST(DecisionBody, ExactWireForm) {
  const std::pair<Decision, const char*> cases[] = {
      {{"answer:3", "ignored", "r"},
       R"({"hookSpecificOutput":{"decision":{"behavior":"answer:3"},"hookEventName":"PermissionRequest"}})"},
      {{"deny", "not now", "r"},
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"not now"},"hookEventName":"PermissionRequest"}})"},
      {{"deny", "", "r"},
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"Denied by ombrel-devserver"},"hookEventName":"PermissionRequest"}})"},
  };
  for (const auto& [decision, json] : cases) EXPECT_EQ(compact(decision_body(decision)), json);
}

}  // namespace
}  // namespace ombrel::devserver
