// ombrel-hook: started by a coding agent once per hook event, with the event's JSON on
// stdin. Reports the event to the desktop, or asks the desktop for a decision and answers
// the agent in its own dialect. Whatever fails, the agent gets a harmless answer.
#include <unistd.h>

#include <string>
#include <vector>

#include "input.hpp"
#include "permission.hpp"
#include "recovery.hpp"
#include "report.hpp"
#include "runtime.hpp"
#include "state.hpp"
#include "text.hpp"
#include "transcript.hpp"
#include "util.hpp"
#include "workspace.hpp"

namespace ombrel::hook {
namespace {

constexpr std::size_t kRawPreviewChars = 3000;

std::string tag(std::string_view source) {
  return "[" + std::string(source) + "] ";
}

// A failure the agent must not notice: logged, told on stderr, answered with "{}".
void report_failure(const std::string& log_path, std::string_view source, std::string_view log_text,
                    std::string_view message) {
  debug_log(log_path, tag(source) + std::string(log_text));
  write_stderr("[ombrel-hook] Error: " + std::string(message) + "\n");
  (void)print_json(Json::object());
}

std::string raw_event_of(const Json& payload, const Options& options) {
  if (auto event = first_str(payload, {"hook_event_name", "hookName", "event", "type"})) {
    return *event;
  }
  if (auto it = options.find("event"); it != options.end()) return it->second;
  return "Unknown";
}

struct PermissionInput {
  std::string cli_source;  // the --source option as given, before the Cursor correction
  std::string source;
  std::string raw_event;
  Json payload;
  std::string server;
  std::string log_path;
};

constexpr std::chrono::seconds kPermissionTimeout{600};

// Output is written straight to the descriptors, so nothing is left to flush; _exit keeps
// a worker that may still be finishing from racing the process's destructors.
[[noreturn]] void finish(int status) {
  _exit(status);
}

// Prints the answer and ends the process, or hands a failed write back to the driver.
Status print_and_finish(const Json& answer) {
  Status printed = print_json(answer);
  if (!printed) return printed;
  finish(0);
}

// Asks the desktop for the user's decision and answers the agent in its own dialect.
Status handle_permission(PermissionInput in) {
  const Json& payload = in.payload;
  const std::string prefix = tag(in.source);
  debug_log(in.log_path, prefix + "PERMISSION stdin keys: " + join(object_keys(payload), ", "));

  const auto cancel_session =
      first_str(payload, {"session_id", "conversation_id", "sessionId", "taskId"});
  const std::string session = cancel_session.value_or("default");
  const Json* own_input = member(payload, "tool_input");
  ToolCall call{first_str(payload, {"tool_name", "toolName"}).value_or(""),
                own_input ? *own_input : Json(), ""};
  if (in.source == "cline") call = cline_pre_tool_use(payload, std::move(call));
  if (call.input.is_null()) {
    if (const Json* args = member(payload, "toolArgs")) call.input = parse_tool_args(*args);
  }
  const std::string tool = call.name.value_or("");
  Json display_input = normalize_tool_input_for_display(std::move(call.input));

  if (in.source == "copilot" && tool == "report_intent") {
    // A narrative tool with no effect: never worth asking the user about.
    debug_log(in.log_path,
              "[copilot] auto-allow report_intent (narrative tool) event=" + in.raw_event);
    return print_and_finish(in.raw_event == "permissionRequest"
                                ? Json{{"behavior", "allow"}}
                                : Json{{"permissionDecision", "allow"}});
  }

  const auto transcript = resolve_transcript_path(in.source, payload);
  debug_log(in.log_path, prefix + "PERMISSION transcript_path=" + transcript.value_or("null"));

  const Json call_id = tool_use_id(payload, tool);
  Json request = Json::object();
  request["cwd"] = cwd_from_payload(payload);
  request["hook_version"] = kHookVersion;
  request["pid"] = static_cast<std::int64_t>(getppid());
  request["session_id"] = session;
  request["source"] = in.source;
  request["tool_input"] = display_input;
  request["tool_name"] = tool;
  request["tool_use_id"] = call_id;
  request["transcript_path"] = transcript ? Json(*transcript) : Json(nullptr);

  auto response = post_json_interruptible(in.server + "/permission", request, kPermissionTimeout,
                                          cancel_session, in.server, in.source, in.log_path);
  if (!response) return Error{response.error()};
  debug_log(in.log_path, prefix + "PERMISSION response: " + compact_json(response.value()));

  const Json* behavior_value =
      at_pointer(response.value(), "/hookSpecificOutput/decision/behavior");
  std::optional<std::string> behavior;
  if (behavior_value != nullptr && behavior_value->is_string())
    behavior = behavior_value->get<std::string>();

  if (behavior == "deny") {
    debug_log(in.log_path, "[OM_TRACE][approval:hook_deny_output] source=" + in.source +
                               " event=" + in.raw_event + " session=" + session + " tool=" + tool +
                               " id=" + compact_json(call_id));
  }

  if (auto answer = ask_user_question_output(in.source, tool, display_input, behavior, payload)) {
    return print_and_finish(*answer);
  }

  EmitOutcome outcome =
      permission_emit({in.source, in.cli_source == "cursor", has_member(payload, "cursor_version"),
                       behavior, in.raw_event, first_str(payload, {"hook_event_name"})});
  if (auto* printed = std::get_if<EmitOutcome::Print>(&outcome.kind))
    return print_and_finish(printed->value);
  if (auto* deny = std::get_if<EmitOutcome::DenyOnStderr>(&outcome.kind)) {
    write_stderr(deny->message + "\n");
    finish(2);
  }
  if (std::holds_alternative<EmitOutcome::Quiet>(outcome.kind)) finish(0);

  // Passthrough: the desktop's own answer is relayed, softened to "ask", or dropped.
  if (!has_member(response.value(), "hookSpecificOutput")) {
    debug_log(in.log_path, prefix + "passthrough - no output, letting client decide");
    finish(0);
  }
  if (behavior == "passthrough") {
    return print_and_finish(
        permission_decision_output_with_reason("PreToolUse", "ask", kPassToClient));
  }
  return print_json(response.value());
}

void run(const std::vector<std::string>& args) {
  install_signal_handlers();

  const Options options = parse_args(args);
  const std::string cli_source =
      options.count("source") != 0 ? options.at("source") : std::string("unknown");
  std::string source = cli_source;

  const std::string server = env_var("OMBREL_SERVER").value_or(std::string(kDefaultServer));
  const std::string log_path =
      env_var("OMBREL_HOOK_LOG").value_or(join_path(home_dir(), ".ombrel/hook.log"));

  auto raw = read_stdin();
  if (!raw) {
    report_failure(log_path, source, "ERROR: stdin read failed: " + raw.error(), raw.error());
    return;
  }

  Json payload = Json::object();
  if (std::string_view cleaned = clean_input(raw.value()); !cleaned.empty()) {
    auto parsed = parse_json(cleaned);
    if (parsed) {
      payload = parsed.take();
    } else {
      std::optional<Json> recovered;
      if (source == "cursor" || raw.value().find("cursor_version") != std::string::npos) {
        recovered = recover_cursor_payload(raw.value(), log_path);
      }
      if (!recovered) {
        report_failure(log_path, source, "ERROR: " + parsed.error(), parsed.error());
        return;
      }
      payload = std::move(*recovered);
    }
  }

  std::string_view trimmed_raw = text::trim(raw.value());
  debug_log(log_path, tag(source) + "hook v" + std::string(kHookVersion) + " RAW STDIN (" +
                          std::to_string(trimmed_raw.size()) + " bytes): " +
                          std::string(text::take_chars(trimmed_raw, kRawPreviewChars)));
  raw = std::string();  // the payload is all that is needed from here on

  if (has_member(payload, "cursor_version") && source != "cursor") {
    debug_log(
        log_path,
        tag(source) + "cursor_version detected in payload -> overriding source to \"cursor\"");
    source = "cursor";
  }

  const std::string raw_event = raw_event_of(payload, options);
  if (source == "gemini" && raw_event == "AfterModel") {
    debug_log(log_path, "[gemini] AfterModel suppressed (streaming chunk)");
    return;
  }

  const std::string tool = first_str(payload, {"tool_name", "toolName"}).value_or("");
  debug_log(log_path, tag(source) + "event=" + raw_event + " tool=" + tool + " pid=" +
                          std::to_string(getpid()) + " ppid=" + std::to_string(getppid()));

  Status outcome;
  if (is_blocking(source, raw_event, payload)) {
    outcome = handle_permission(
        PermissionInput{cli_source, source, raw_event, std::move(payload), server, log_path});
  } else {
    outcome =
        send_state_report(ReportInput{source, raw_event, std::move(payload), server, log_path});
  }
  if (!outcome) report_failure(log_path, source, "ERROR: " + outcome.error(), outcome.error());
}

}  // namespace
}  // namespace ombrel::hook

int main(int argc, char** argv) {
  ombrel::hook::run(std::vector<std::string>(argv, argv + argc));
  return 0;
}
