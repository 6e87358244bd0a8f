#include "decision.hpp"

#include <algorithm>
#include <charconv>

#include "visible_text.hpp"

namespace ombrel::devserver {

namespace {

constexpr std::string_view kDefaultDenyMessage = "Denied by ombrel-devserver";

Decision allow(std::string reason) {
  return Decision{"allow", "", std::move(reason)};
}
Decision passthrough(std::string reason) {
  return Decision{"passthrough", "", std::move(reason)};
}
Decision deny(std::string message, std::string reason) {
  return Decision{"deny", std::move(message), std::move(reason)};
}
Decision answer(std::uint64_t index, std::string reason) {
  return Decision{"answer:" + std::to_string(index), "", std::move(reason)};
}

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// An option number as a person counts: 1 is the first option.
std::optional<std::uint64_t> parse_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
  return value;
}

// The chosen option by its number, for the server's own output.
std::string option_reason(std::string_view prefix, std::uint64_t number, const Question& question) {
  return std::string(prefix) + " " + std::to_string(number) + " (" +
         token(*question.options[number - 1]) + ")";
}

// The number of an option the hook can use, as its index from 0; nothing otherwise.
std::optional<std::uint64_t> usable_index(const Question& question, std::uint64_t number) {
  if (number == 0 || !answerable(question, number - 1)) return std::nullopt;
  return number - 1;
}

}  // namespace

std::string_view mode_name(Mode mode) {
  switch (mode) {
    case Mode::Allow:
      return "allow";
    case Mode::Deny:
      return "deny";
    case Mode::Passthrough:
      return "passthrough";
    case Mode::Ask:
      return "ask";
  }
  return "ask";
}

std::optional<Mode> parse_mode(std::string_view text) {
  for (Mode mode : {Mode::Allow, Mode::Deny, Mode::Passthrough, Mode::Ask}) {
    if (text == mode_name(mode)) return mode;
  }
  return std::nullopt;
}

ApprovalRequest read_approval_request(const Json& body) {
  ApprovalRequest request;
  request.session_id = scalar_text(body, "session_id").value_or("");
  request.source = scalar_text(body, "source").value_or("");
  request.tool_name = scalar_text(body, "tool_name").value_or("");
  request.cwd = scalar_text(body, "cwd").value_or("");
  if (const Json* input = member(body, "tool_input")) {
    request.detail = tool_detail(*input);
    request.question = first_question(request.tool_name, *input);
  }
  return request;
}

std::optional<Decision> choose_decision(const Policy& policy, const ApprovalRequest& request) {
  const auto& denied = policy.deny_tools;
  if (std::find(denied.begin(), denied.end(), request.tool_name) != denied.end()) {
    return deny("ombrel-devserver denies the tool " + request.tool_name,
                "--deny-tool " + request.tool_name);
  }
  // An index the question cannot take would reach the agent as a meaningless answer, so the
  // request is then decided as if no answer had been configured.
  if (policy.answer && request.question) {
    if (auto index = usable_index(*request.question, *policy.answer)) {
      return answer(*index, option_reason("--answer", *policy.answer, *request.question));
    }
  }
  switch (policy.mode) {
    case Mode::Allow:
      return allow("--decide allow");
    case Mode::Deny:
      return deny(std::string(kDefaultDenyMessage), "--decide deny");
    case Mode::Passthrough:
      return passthrough("--decide passthrough");
    case Mode::Ask:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Decision> parse_reply(std::string_view line, const ApprovalRequest& request) {
  std::string_view text = utf8::trim(line);
  std::size_t space = std::min(text.find_first_of(" \t"), text.size());
  const std::string word = lower_ascii(text.substr(0, space));
  const std::string_view rest = utf8::trim(text.substr(space));
  const std::string reason = "answered on the terminal";

  if (word == "y" || word == "yes" || word == "allow") return allow(reason);
  if (word == "n" || word == "no" || word == "deny") {
    return deny(rest.empty() ? std::string(kDefaultDenyMessage) : std::string(rest), reason);
  }
  if (word == "p" || word == "pass" || word == "passthrough") return passthrough(reason);
  if (request.question && rest.empty()) {
    auto number = parse_number(word);
    if (auto index = number ? usable_index(*request.question, *number) : std::nullopt) {
      return answer(*index, option_reason("option", *number, *request.question));
    }
  }
  return std::nullopt;
}

Decision input_closed_decision() {
  return passthrough("no more input on the terminal");
}

Json decision_body(const Decision& decision) {
  Json inner = Json::object();
  inner["behavior"] = decision.behavior;
  if (decision.behavior == "deny") {
    inner["message"] =
        decision.message.empty() ? std::string(kDefaultDenyMessage) : decision.message;
  }
  Json specific = Json::object();
  specific["decision"] = std::move(inner);
  specific["hookEventName"] = "PermissionRequest";
  Json body = Json::object();
  body["hookSpecificOutput"] = std::move(specific);
  return body;
}

}  // namespace ombrel::devserver
