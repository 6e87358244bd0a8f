#include "permission.hpp"

#include <cstdint>

#include "text.hpp"
#include "util.hpp"

namespace ombrel::hook {
namespace {

enum class Decision { kAllow, kDeny, kPassthrough, kOther };

Decision classify(const std::optional<std::string>& behavior) {
  if (!behavior) return Decision::kOther;
  if (*behavior == "allow") return Decision::kAllow;
  if (*behavior == "deny") return Decision::kDeny;
  if (*behavior == "passthrough") return Decision::kPassthrough;
  return Decision::kOther;
}

EmitOutcome print(Json value) {
  return {EmitOutcome::Print{std::move(value)}};
}

std::string event_or(const EmitInput& in, std::string_view fallback) {
  return in.hook_event_name.value_or(std::string(fallback));
}

EmitOutcome cursor_dialect(Decision d) {
  if (d == Decision::kDeny) {
    return print({{"agent_message", kDeniedByOmbrel},
                  {"permission", "deny"},
                  {"user_message", "Ombrel denied this action"}});
  }
  return print({{"permission", "allow"}});
}

EmitOutcome cursor_version_dialect(Decision d) {
  return print(permission_decision_output("PreToolUse", d == Decision::kDeny ? "deny" : "allow",
                                          d == Decision::kDeny));
}

EmitOutcome copilot_dialect(Decision d, std::string_view raw_event) {
  if (raw_event == "permissionRequest") {
    if (d == Decision::kDeny) return print({{"behavior", "deny"}, {"message", kDeniedByOmbrel}});
    return print({{"behavior", "allow"}});
  }
  if (d == Decision::kDeny) {
    return print({{"permissionDecision", "deny"}, {"permissionDecisionReason", kDeniedByOmbrel}});
  }
  return print({{"permissionDecision", d == Decision::kPassthrough ? "ask" : "allow"}});
}

EmitOutcome gemini_dialect(Decision d) {
  if (d == Decision::kDeny) return print({{"decision", "deny"}, {"reason", kDeniedByOmbrel}});
  return print({{"decision", "allow"}});
}

EmitOutcome cline_dialect(Decision d) {
  if (d == Decision::kDeny) return print({{"cancel", true}, {"errorMessage", kDeniedByOmbrel}});
  return print({{"cancel", false}});
}

EmitOutcome codex_dialect(Decision d, const EmitInput& in) {
  Json specific = {{"hookEventName", event_or(in, "PermissionRequest")}};
  if (d == Decision::kDeny) {
    specific["decision"] = {{"behavior", "deny"}, {"message", kDeniedByOmbrel}};
  } else if (d == Decision::kAllow) {
    specific["decision"] = {{"behavior", "allow"}};
  }
  return print({{"hookSpecificOutput", std::move(specific)}});
}

EmitOutcome qoder_dialect(Decision d, const EmitInput& in) {
  const std::string event = event_or(in, "PreToolUse");
  if (d == Decision::kDeny) return print(permission_decision_output(event, "deny", true));
  return print(
      permission_decision_output(event, d == Decision::kPassthrough ? "ask" : "allow", false));
}

// WorkBuddy reads the decision both inside "hookSpecificOutput" and at the top level.
EmitOutcome workbuddy_dialect(Decision d, const EmitInput& in) {
  std::string decision = "allow";
  std::optional<std::string_view> reason;
  if (d == Decision::kDeny) {
    decision = "deny";
    reason = kDeniedByOmbrel;
  } else if (d == Decision::kPassthrough) {
    decision = "ask";
    reason = kPassToClient;
  }
  Json out =
      reason ? permission_decision_output_with_reason(event_or(in, "PreToolUse"), decision, *reason)
             : permission_decision_output(event_or(in, "PreToolUse"), decision, false);
  out["continue"] = d != Decision::kDeny;
  out["permissionDecision"] = decision;
  if (reason) out["permissionDecisionReason"] = *reason;
  return print(std::move(out));
}

EmitOutcome kimi_dialect(Decision d, const EmitInput& in) {
  if (d == Decision::kDeny)
    return print(permission_decision_output(event_or(in, "PreToolUse"), "deny", true));
  return {EmitOutcome::Quiet{}};
}

EmitOutcome stderr_dialect(Decision d) {
  if (d == Decision::kDeny) return {EmitOutcome::DenyOnStderr{std::string(kDeniedByOmbrel)}};
  return {EmitOutcome::Quiet{}};
}

}  // namespace

Json permission_decision_output_with_reason(std::string_view event, std::string_view decision,
                                            std::string_view reason) {
  return {{"hookSpecificOutput",
           {{"hookEventName", event},
            {"permissionDecision", decision},
            {"permissionDecisionReason", reason}}}};
}

Json permission_decision_output(std::string_view event, std::string_view decision,
                                bool with_reason) {
  if (with_reason) return permission_decision_output_with_reason(event, decision, kDeniedByOmbrel);
  return {{"hookSpecificOutput", {{"hookEventName", event}, {"permissionDecision", decision}}}};
}

std::optional<Json> passthrough_ask_output(std::string_view raw_event) {
  if (raw_event == "PermissionRequest" || raw_event == "permissionRequest" ||
      raw_event == "Elicitation") {
    return std::nullopt;
  }
  return permission_decision_output_with_reason("PreToolUse", "ask", kPassToClient);
}

EmitOutcome permission_emit(const EmitInput& in) {
  const Decision d = classify(in.behavior);
  if (in.cursor_client) return cursor_dialect(d);
  if (in.has_cursor_version) return cursor_version_dialect(d);
  const std::string_view s = in.source;
  if (s == "copilot") return copilot_dialect(d, in.raw_event);
  if (s == "gemini") return gemini_dialect(d);
  if (s == "cline") return cline_dialect(d);
  if (s == "codex") return codex_dialect(d, in);
  if (s == "qoder" || s == "codebuddy") return qoder_dialect(d, in);
  if (s == "workbuddy") return workbuddy_dialect(d, in);
  if (s == "kimi") return kimi_dialect(d, in);
  if (s == "kiro" || s == "reasonix") return stderr_dialect(d);
  return {EmitOutcome::Passthrough{}};
}

std::optional<std::string> choice_option_label(const Json& option) {
  if (option.is_string()) {
    std::string_view label = utf8::trim(option.get_ref<const std::string&>());
    if (label.empty()) return std::nullopt;
    return std::string(label);
  }
  for (std::string_view key : {"label", "value", "text", "description"}) {
    const Json* v = member(option, key);
    if (v == nullptr || !v->is_string()) continue;
    std::string_view label = utf8::trim(v->get_ref<const std::string&>());
    if (!label.empty()) return std::string(label);
  }
  return std::nullopt;
}

namespace {

// "answer:N" or "choice:N": an optional "+", then decimal digits only, within 64 bits.
std::optional<std::uint64_t> answer_index(const std::optional<std::string>& behavior) {
  if (!behavior || behavior->size() < 7) return std::nullopt;
  std::string_view prefix = std::string_view(*behavior).substr(0, 7);
  if (prefix != "answer:" && prefix != "choice:") return std::nullopt;
  std::string_view digits = std::string_view(*behavior).substr(7);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::uint64_t index = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (index > (UINT64_MAX - digit) / 10) return std::nullopt;
    index = index * 10 + digit;
  }
  return index;
}

}  // namespace

std::optional<Json> ask_user_question_output(std::string_view source, std::string_view tool_name,
                                             const Json& display_input,
                                             const std::optional<std::string>& behavior,
                                             const Json& payload) {
  const std::string lowered = ascii::lower(source);
  if (lowered != "claude" && lowered != "claude-code") return std::nullopt;
  if (!ascii::iequals(tool_name, "askuserquestion")) return std::nullopt;
  auto index = answer_index(behavior);
  if (!index) return std::nullopt;

  const Json* questions = member(display_input, "questions");
  if (questions == nullptr || !questions->is_array() || questions->empty()) return std::nullopt;
  const Json& first = (*questions)[0];
  const Json* question = member(first, "question");
  if (question == nullptr || !question->is_string()) return std::nullopt;
  std::string_view question_text = utf8::trim(question->get_ref<const std::string&>());
  if (question_text.empty()) return std::nullopt;
  const Json* options = member(first, "options");
  if (options == nullptr || !options->is_array() || *index >= options->size()) return std::nullopt;
  auto label = choice_option_label((*options)[static_cast<std::size_t>(*index)]);
  if (!label) return std::nullopt;

  Json answers = Json::object();
  if (const Json* earlier = member(display_input, "answers"); earlier && earlier->is_object()) {
    answers = *earlier;
  }
  answers[std::string(question_text)] = *label;
  Json updated = display_input;
  updated["answers"] = std::move(answers);

  std::string event = first_str(payload, {"hook_event_name"}).value_or("PermissionRequest");
  return Json{{"hookSpecificOutput",
               {{"decision", {{"behavior", "allow"}, {"updatedInput", std::move(updated)}}},
                {"hookEventName", std::move(event)}}}};
}

}  // namespace ombrel::hook
