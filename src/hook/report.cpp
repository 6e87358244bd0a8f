#include "report.hpp"

#include <unistd.h>

#include "runtime.hpp"
#include "state.hpp"
#include "text.hpp"
#include "transcript.hpp"
#include "util.hpp"
#include "workspace.hpp"

namespace ombrel::hook {
namespace {

constexpr std::chrono::seconds kStateTimeout{5};

Json optional_text(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

std::string tag(std::string_view source) {
  return "[" + std::string(source) + "] ";
}

}  // namespace

Json build_state_report(const ReportInput& in, Json tool_input) {
  const Json& payload = in.payload;
  const std::string prefix = tag(in.source);

  std::string event = map_state_event(in.source, in.raw_event, payload);
  auto assistant = resolve_last_assistant_message(in.source, payload);
  auto user = last_user_message_from_payload(in.source, event, payload, in.log_path);

  debug_log(in.log_path, prefix + "STATE stdin keys: " + join(object_keys(payload), ", "));
  debug_log(
      in.log_path,
      prefix + "STATE session_id=" +
          first_str(payload, {"session_id", "conversation_id", "sessionId"}).value_or("MISSING"));
  if (const Json* own = member(payload, "last_assistant_message"); own && own->is_string()) {
    debug_log(in.log_path,
              prefix + "last_assistant_message (first 200): " +
                  std::string(text::take_chars(own->get_ref<const std::string&>(), 200)));
  }
  if (user) {
    debug_log(in.log_path, prefix + "last_user_message (first 200): " +
                               std::string(text::take_chars(*user, 200)));
  }

  ToolCall call{first_str(payload, {"tool_name", "toolName"}), std::move(tool_input), event};
  if (in.source == "cline") call = cline_tool_and_event(payload, in.raw_event, std::move(call));
  if (call.input.is_null()) {
    if (const Json* args = member(payload, "toolArgs")) call.input = parse_tool_args(*args);
  }
  Json display_input = normalize_tool_input_for_display(std::move(call.input));

  auto transcript = resolve_transcript_path(in.source, payload);
  debug_log(in.log_path, prefix + "STATE transcript_path=" + transcript.value_or("null"));

  Json body = Json::object();
  body["cwd"] = cwd_from_payload(payload);
  body["event"] = std::move(call.state_event);
  body["hook_version"] = kHookVersion;
  body["last_assistant_message"] = optional_text(assistant);
  body["last_user_message"] = optional_text(user);
  body["om_tmux_session"] = optional_text(env_var("OM_TMUX_SESSION"));
  body["pid"] = static_cast<std::int64_t>(getppid());
  body["session_id"] =
      optional_text(first_str(payload, {"session_id", "conversation_id", "sessionId", "taskId"}));
  body["source"] = in.source;
  body["tool_input"] = std::move(display_input);
  body["tool_name"] = optional_text(call.name);
  body["tool_use_id"] = tool_use_id(payload);
  body["transcript_path"] = optional_text(transcript);
  body["turn_id"] = optional_text(first_str(payload, {"turn_id", "turnId"}));
  return body;
}

Status send_state_report(Platform& platform, ReportInput in) {
  // The tool input is the one part of the payload that may be large: move it, never copy.
  Json tool_input;
  if (in.payload.is_object()) {
    auto it = in.payload.find("tool_input");
    if (it != in.payload.end()) tool_input = std::move(*it);
  }
  Json body = build_state_report(in, std::move(tool_input));

  auto posted = platform.post(in.server + "/state", body, kStateTimeout);
  if (!posted) debug_log(in.log_path, tag(in.source) + "POST /state failed: " + posted.error());

  if (auto answer = get_default_response(in.raw_event, in.source))
    return print_json(platform, *answer);
  return Status::success();
}

}  // namespace ombrel::hook
