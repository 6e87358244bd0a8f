// Which answer a permission request gets, and the answer's JSON form. Pure functions: the
// server, the terminal prompt and the tests all decide the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_fields.hpp"

namespace ombrel::devserver {

// How requests are decided when no rule below picks the answer first.
enum class Mode { Allow, Deny, Passthrough, Ask };

std::string_view mode_name(Mode mode);
std::optional<Mode> parse_mode(std::string_view text);

struct Policy {
  Mode mode = Mode::Passthrough;
  std::vector<std::string> deny_tools;  // denied whatever the mode says (exact names)
  // The option AskUserQuestion gets, counted from 1 as the user reads the options; the hook
  // is sent its index from 0 ("answer:0" for option 1).
  std::optional<std::uint64_t> answer;
};

// What the server needs of a permission request, read leniently from any JSON value.
struct ApprovalRequest {
  std::string session_id;  // empty when the body names none
  std::string source;
  std::string tool_name;
  std::optional<ToolDetail> detail;
  std::string cwd;
  std::optional<Question> question;  // set for an AskUserQuestion call with options
};

ApprovalRequest read_approval_request(const Json& body);

struct Decision {
  std::string behavior;  // "allow", "deny", "passthrough" or "answer:N" (N counted from 0)
  std::string message;   // told to the agent with a deny; empty otherwise
  std::string reason;    // why, for the server's own output
};

// The answer the policy gives by itself; nothing when the terminal has to decide.
std::optional<Decision> choose_decision(const Policy& policy, const ApprovalRequest& request);

// What a line typed at the prompt means: y/yes/allow, n/no/deny (optionally followed by the
// message for the agent), p/passthrough, or an option number of a question (1 for the
// first option, as the prompt numbers them). Nothing when the line means none of these.
std::optional<Decision> parse_reply(std::string_view line, const ApprovalRequest& request);

// The answer released to the waiting client when nobody can answer on the terminal any more.
Decision input_closed_decision();

// {"hookSpecificOutput":{"decision":{"behavior":B[,"message":M]},"hookEventName":
// "PermissionRequest"}}; a deny always carries a message.
Json decision_body(const Decision& decision);

}  // namespace ombrel::devserver
