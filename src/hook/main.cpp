// ombrel-hook: started by a coding agent once per hook event, with the event's JSON on
// stdin. Reports the event to the desktop, or asks the desktop for a decision and answers
// the agent in its own dialect. Whatever fails, the agent gets a harmless answer.
#include <unistd.h>

#include <string>
#include <vector>

#include "input.hpp"
#include "recovery.hpp"
#include "report.hpp"
#include "runtime.hpp"
#include "state.hpp"
#include "text.hpp"
#include "util.hpp"

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

// Placeholder until the approval exchange lands: the agent decides on its own.
Status handle_permission(PermissionInput) {
  return print_json(Json::object());
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
