#include "driver.hpp"

#include <unistd.h>

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
constexpr std::chrono::seconds kPermissionTimeout{600};

constexpr std::string_view kHelp =
    R"(Usage: ombrel-hook --source AGENT [--event NAME] < payload.json

Run by a coding agent's hook system once per event, with the event's JSON on stdin. Reports
the event to the Ombrel desktop app, or asks it for the user's decision, and answers the agent
in its own format on stdout, stderr and the exit status (0, or 2 for a denial some agents
take that way). Whatever fails, the agent gets a harmless answer.

Options:
  --source AGENT   the agent: claude, codex, cursor, gemini, copilot, cline, kiro, kimi,
                   qoder, codebuddy, workbuddy or reasonix
  --event NAME     the event, for agents whose payload does not name it
  --help           show this help
  --version        show the version

Environment:
  OMBREL_SERVER    the desktop's address (default http://127.0.0.1:7337)
  OMBREL_HOOK_LOG  the debug log (default ~/.ombrel/hook.log; empty: no log)

How to wire each agent: docs/agents.md.
)";

std::string tag(std::string_view source) {
  return "[" + std::string(source) + "] ";
}

// A failure the agent must not notice: logged, told on stderr, answered with "{}".
void report_failure(Platform& platform, const std::string& log_path, std::string_view source,
                    std::string_view log_text, std::string_view message) {
  debug_log(log_path, tag(source) + std::string(log_text));
  platform.write_stderr("[ombrel-hook] Error: " + std::string(message) + "\n");
  (void)print_json(platform, Json::object());
}

std::string raw_event_of(const Json& payload, const Options& options) {
  if (auto event = first_str(payload, {"hook_event_name", "hookName", "event", "type"}))
    return *event;
  if (auto it = options.find("event"); it != options.end()) return it->second;
  return "Unknown";
}

// Prints an answer; when that worked the process ends at once with status 0.
PermissionOutcome answer(Platform& platform, const Json& value) {
  Status printed = print_json(platform, value);
  if (!printed) return {printed, std::nullopt};
  return {Status::success(), 0};
}

PermissionOutcome ending(int status) {
  return {Status::success(), status};
}

// The tool call as the desktop should see it: Cline's own object, "toolArgs" as a fallback.
ToolCall permission_tool_call(const std::string& source, const Json& payload) {
  const Json* own_input = member(payload, "tool_input");
  ToolCall call{first_str(payload, {"tool_name", "toolName"}).value_or(""),
                own_input ? *own_input : Json(), ""};
  if (source == "cline") call = cline_pre_tool_use(payload, std::move(call));
  if (call.input.is_null()) {
    if (const Json* args = member(payload, "toolArgs")) call.input = parse_tool_args(*args);
  }
  return call;
}

PermissionOutcome emit(Platform& platform, const PermissionInput& in,
                       const std::optional<std::string>& behavior, const Json& response) {
  EmitOutcome outcome = permission_emit({in.source, in.cli_source == "cursor",
                                         has_member(in.payload, "cursor_version"), behavior,
                                         in.raw_event, first_str(in.payload, {"hook_event_name"})});
  if (auto* printed = std::get_if<EmitOutcome::Print>(&outcome.kind))
    return answer(platform, printed->value);
  if (auto* deny = std::get_if<EmitOutcome::DenyOnStderr>(&outcome.kind)) {
    platform.write_stderr(deny->message + "\n");
    return ending(2);
  }
  if (std::holds_alternative<EmitOutcome::Quiet>(outcome.kind)) return ending(0);

  // Passthrough: the desktop's own answer is relayed, softened to "ask", or dropped.
  if (!has_member(response, "hookSpecificOutput")) {
    debug_log(in.log_path, tag(in.source) + "passthrough - no output, letting client decide");
    return ending(0);
  }
  if (behavior == "passthrough") {
    if (auto ask = passthrough_ask_output(in.raw_event)) return answer(platform, *ask);
    debug_log(in.log_path, tag(in.source) + "passthrough on " + in.raw_event +
                               " - no output, the agent's own prompt decides");
    return ending(0);
  }
  return {print_json(platform, response), std::nullopt};
}

}  // namespace

PermissionOutcome handle_permission(Platform& platform, PermissionInput in) {
  const Json& payload = in.payload;
  const std::string prefix = tag(in.source);
  debug_log(in.log_path, prefix + "PERMISSION stdin keys: " + join(object_keys(payload), ", "));

  const auto cancel_session =
      first_str(payload, {"session_id", "conversation_id", "sessionId", "taskId"});
  const std::string session = cancel_session.value_or("default");
  ToolCall call = permission_tool_call(in.source, payload);
  const std::string tool = call.name.value_or("");
  Json display_input = normalize_tool_input_for_display(std::move(call.input));

  if (in.source == "copilot" && tool == "report_intent") {
    // A narrative tool with no effect: never worth asking the user about.
    debug_log(in.log_path,
              "[copilot] auto-allow report_intent (narrative tool) event=" + in.raw_event);
    return answer(platform, in.raw_event == "permissionRequest"
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

  auto response =
      platform.post_interruptible(in.server + "/permission", request, kPermissionTimeout,
                                  {cancel_session, in.server, in.source, in.log_path});
  if (!response) return {Error{response.error()}, std::nullopt};
  debug_log(in.log_path, prefix + "PERMISSION response: " + compact_json(response.value()));

  std::optional<std::string> behavior;
  const Json* behavior_value =
      at_pointer(response.value(), "/hookSpecificOutput/decision/behavior");
  if (behavior_value != nullptr && behavior_value->is_string())
    behavior = behavior_value->get<std::string>();

  if (behavior == "deny") {
    debug_log(in.log_path, "[OM_TRACE][approval:hook_deny_output] source=" + in.source +
                               " event=" + in.raw_event + " session=" + session + " tool=" + tool +
                               " id=" + compact_json(call_id));
  }
  if (auto question = ask_user_question_output(in.source, tool, display_input, behavior, payload)) {
    return answer(platform, *question);
  }
  return emit(platform, in, behavior, response.value());
}

RunOutcome run(Platform& platform, const std::vector<std::string>& args) {
  // Only as the one word: an agent never calls the hook that way, and elsewhere "--help" is
  // an option like any other.
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "--version")) {
    const std::string text = args[1] == "--help"
                                 ? std::string(kHelp)
                                 : "ombrel-hook " + std::string(kHookVersion) + "\n";
    (void)platform.write_stdout(text);
    return {};
  }
  const Options options = parse_args(args);
  const std::string cli_source =
      options.count("source") != 0 ? options.at("source") : std::string("unknown");
  std::string source = cli_source;

  const std::string server = env_var("OMBREL_SERVER").value_or(std::string(kDefaultServer));
  const std::string log_path =
      env_var("OMBREL_HOOK_LOG").value_or(join_path(home_dir(), ".ombrel/hook.log"));

  auto raw = platform.read_stdin();
  if (!raw) {
    report_failure(platform, log_path, source, "ERROR: stdin read failed: " + raw.error(),
                   raw.error());
    return {};
  }

  Json payload = Json::object();
  if (std::string_view cleaned = clean_input(raw.value()); !cleaned.empty()) {
    auto parsed = parse_json_utf8(cleaned);  // read_stdin checked it
    if (parsed) {
      payload = parsed.take();
    } else {
      std::optional<Json> recovered;
      if (source == "cursor" || raw.value().find("cursor_version") != std::string::npos) {
        recovered = recover_cursor_payload(raw.value(), log_path);
      }
      if (!recovered) {
        report_failure(platform, log_path, source, "ERROR: " + parsed.error(), parsed.error());
        return {};
      }
      payload = std::move(*recovered);
    }
  }

  std::string_view trimmed_raw = utf8::trim(raw.value());
  debug_log(log_path, tag(source) + "hook v" + std::string(kHookVersion) + " RAW STDIN (" +
                          std::to_string(trimmed_raw.size()) + " bytes): " +
                          std::string(text::take_chars(trimmed_raw, kRawPreviewChars)));
  std::string().swap(raw.value());  // the payload is all that is needed from here on

  if (has_member(payload, "cursor_version") && source != "cursor") {
    debug_log(
        log_path,
        tag(source) + "cursor_version detected in payload -> overriding source to \"cursor\"");
    source = "cursor";
  }

  const std::string raw_event = raw_event_of(payload, options);
  if (source == "gemini" && raw_event == "AfterModel") {
    debug_log(log_path, "[gemini] AfterModel suppressed (streaming chunk)");
    return {};
  }

  const std::string tool = first_str(payload, {"tool_name", "toolName"}).value_or("");
  debug_log(log_path, tag(source) + "event=" + raw_event + " tool=" + tool + " pid=" +
                          std::to_string(getpid()) + " ppid=" + std::to_string(getppid()));

  Status outcome;
  if (is_blocking(source, raw_event, payload)) {
    PermissionOutcome permission = handle_permission(
        platform, {cli_source, source, raw_event, std::move(payload), server, log_path});
    if (permission.exit_now) return {*permission.exit_now, true};
    outcome = permission.status;
  } else {
    outcome =
        send_state_report(platform, {source, raw_event, std::move(payload), server, log_path});
  }
  if (!outcome)
    report_failure(platform, log_path, source, "ERROR: " + outcome.error(), outcome.error());
  return {};
}

}  // namespace ombrel::hook
