// How each agent wants to hear the user's decision: as JSON on stdout under its own member
// names, as a "hookSpecificOutput" object, through stderr and exit status 2, or not at all.
// Pure functions: they build values and name an outcome; the caller prints and exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json_text.hpp"

namespace ombrel::hook {

inline constexpr std::string_view kDeniedByOmbrel = "Denied by Ombrel";
inline constexpr std::string_view kPassToClient = "Ombrel: pass to client";

struct EmitOutcome {
  struct Print {
    Json value;  // printed on stdout, exit status 0
  };
  struct DenyOnStderr {
    std::string message;  // written to stderr with a line feed, exit status 2
  };
  struct Quiet {};        // nothing at all, exit status 0
  struct Passthrough {};  // the desktop's own answer decides (relayed or softened)

  std::variant<Print, DenyOnStderr, Quiet, Passthrough> kind;
};

struct EmitInput {
  std::string_view source;
  bool cursor_client = false;       // the --source option is exactly "cursor"
  bool has_cursor_version = false;  // the payload carries "cursor_version"
  std::optional<std::string> behavior;
  std::string_view raw_event;
  std::optional<std::string> hook_event_name;
};

EmitOutcome permission_emit(const EmitInput& in);

// {"hookSpecificOutput":{"hookEventName":E,"permissionDecision":D}}, with the
// "Denied by Ombrel" reason when asked for.
Json permission_decision_output(std::string_view event, std::string_view decision,
                                bool with_reason);
Json permission_decision_output_with_reason(std::string_view event, std::string_view decision,
                                            std::string_view reason);

// The "ask" that softens a desktop "passthrough" for the sources without a dialect of their own.
// It is PreToolUse-shaped, and an agent checks the event name in it: on PermissionRequest and
// Elicitation, whose answers have schemas of their own, it is a hook error there. Those get
// nothing, which leaves the agent's own prompt in place.
std::optional<Json> passthrough_ask_output(std::string_view raw_event);

// The option's label: a trimmed string, or the first non-blank of "label", "value",
// "text", "description".
std::optional<std::string> choice_option_label(const Json& option);
// For Claude's AskUserQuestion and an "answer:N"/"choice:N" decision: an allow with the
// chosen option filled into "answers". Nothing when the decision is not such an answer.
std::optional<Json> ask_user_question_output(std::string_view source, std::string_view tool_name,
                                             const Json& display_input,
                                             const std::optional<std::string>& behavior,
                                             const Json& payload);

}  // namespace ombrel::hook
