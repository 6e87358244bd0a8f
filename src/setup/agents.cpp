#include "agents.hpp"

#include <vector>

namespace ombrel::setup {
namespace {

using E = HookEvent;

// Claude Code's own event names that the desktop knows as they are.
std::vector<HookEvent> claude_events(bool pre_tool_waits) {
  return {
      E{"SessionStart"},
      E{"UserPromptSubmit"},
      E{"PreToolUse", pre_tool_waits, true},
      E{"PermissionRequest", true, true},
      E{"PostToolUse", false, true},
      E{"Notification"},
      E{"Stop"},
      E{"SubagentStart"},
      E{"SubagentStop"},
      E{"PreCompact"},
      E{"SessionEnd"},
      E{"Elicitation", true},
  };
}

std::vector<Agent> make_agents() {
  std::vector<Agent> list;

  Agent claude{
      .name = "claude", .title = "Claude Code", .source = "claude", .format = Format::kJsonGroups};
  claude.programs = {"claude"};
  claude.folder = {"CLAUDE_CONFIG_DIR", ".claude"};
  claude.user_file = "settings.json";
  claude.project_file = ".claude/settings.json";
  claude.matcher = "*";
  claude.default_timeout_s = 600;
  claude.events = claude_events(false);
  claude.follow_up =
      "approvals reach the desktop from the interactive program (start it as `ombrel run "
      "claude`); in print mode (-p) nobody can answer, and Notification never fires there.";
  list.push_back(claude);

  Agent codex{.name = "codex", .title = "Codex", .source = "codex", .format = Format::kJsonGroups};
  codex.programs = {"codex"};
  codex.folder = {"CODEX_HOME", ".codex"};
  codex.user_file = "hooks.json";
  codex.project_file = ".codex/hooks.json";
  codex.matcher = "*";
  codex.default_timeout_s = 600;
  codex.events = {
      E{"SessionStart"},
      E{"UserPromptSubmit"},
      E{"PreToolUse", false, true},
      E{"PermissionRequest", true, true},
      E{"PostToolUse", false, true},
      E{"PreCompact"},
      E{"SubagentStart"},
      E{"SubagentStop"},
      E{"Stop"},
      E{"SessionEnd", false, false, true},
  };
  codex.follow_up =
      "start codex and trust the new hooks on its \"Hooks need review\" screen (or later with "
      "/hooks): untrusted hooks never run. A hook that times out or is interrupted (Esc) is killed "
      "with SIGKILL, and its approval stays on the desktop until dismissed there.";
  list.push_back(codex);

  Agent cursor{
      .name = "cursor", .title = "Cursor", .source = "cursor", .format = Format::kJsonFlat};
  cursor.programs = {"cursor", "cursor-agent"};
  cursor.folder = {"", ".cursor"};
  cursor.user_file = "hooks.json";
  cursor.project_file = ".cursor/hooks.json";
  cursor.typed = false;
  cursor.timeout_key = "";
  cursor.root_keys = {"version"};
  cursor.events = {
      E{"sessionStart"}, E{"sessionEnd"},         E{"beforeSubmitPrompt"}, E{"preToolUse", true},
      E{"postToolUse"},  E{"postToolUseFailure"}, E{"afterAgentThought"},  E{"afterAgentResponse"},
      E{"stop"},         E{"preCompact"},         E{"subagentStart"},      E{"subagentStop"},
  };
  cursor.writes = false;
  cursor.warning =
      "Cursor's timeout setting (its name, unit and default) is not documented, so setup does not "
      "write hooks.json: add these entries to ~/.cursor/hooks.json yourself, and give preToolUse "
      "the longest timeout Cursor allows if it has one.";
  cursor.follow_up =
      "Cursor's preToolUse waits for the desktop; a hook that fails lets Cursor go ahead.";
  list.push_back(cursor);

  Agent gemini{
      .name = "gemini", .title = "Gemini CLI", .source = "gemini", .format = Format::kJsonGroups};
  gemini.programs = {"gemini"};
  gemini.folder = {"GEMINI_CLI_HOME", ".gemini", true};  // it stands for HOME (0.61 bundle)
  gemini.user_file = "settings.json";
  gemini.project_file = ".gemini/settings.json";
  gemini.matcher = ".*";  // a regular expression: "*" would be invalid
  gemini.handler_name = "ombrel";
  gemini.unit = TimeUnit::kMilliseconds;
  gemini.permission_timeout = 600000;
  gemini.default_timeout_s = 60;
  // AfterModel is left out: it fires once per streamed chunk of every answer.
  gemini.events = {
      E{"SessionStart"},
      E{"SessionEnd"},
      E{"BeforeAgent"},
      E{"AfterAgent"},
      E{"BeforeTool", true, true},
      E{"AfterTool", false, true},
      E{"Notification"},
  };
  gemini.follow_up =
      "a desktop allow runs the tool only under `--approval-mode yolo`; otherwise Gemini still "
      "asks in its own prompt (a deny always blocks).";
  list.push_back(gemini);

  Agent copilot{
      .name = "copilot", .title = "Copilot CLI", .source = "copilot", .format = Format::kJsonFlat};
  copilot.programs = {"copilot"};
  copilot.folder = {"COPILOT_HOME", ".copilot"};
  copilot.user_file = "hooks/ombrel.json";  // a file of our own: Copilot reads every file there
  copilot.project_file = ".github/hooks/ombrel.json";
  copilot.pass_event = true;  // camelCase events send payloads without an event name
  copilot.command_key = "bash";
  copilot.timeout_key = "timeoutSec";
  copilot.default_timeout_s = 30;
  copilot.root_keys = {"version"};
  copilot.events = {
      E{"sessionStart"},
      E{"sessionEnd"},
      E{"userPromptSubmitted"},
      E{"preToolUse", true},
      E{"permissionRequest", true},
      E{"postToolUse"},
      E{"postToolUseFailure"},
      E{"errorOccurred"},
      E{"agentStop"},
      E{"subagentStart"},
      E{"subagentStop"},
      E{"preCompact"},
      E{"notification"},
  };
  copilot.follow_up =
      "the waiting hooks have 600 s (Copilot's default is 30 s); a hook that times out is ended "
      "with SIGTERM, its approval is withdrawn and Copilot goes ahead. Copilot asks once whether "
      "to "
      "trust each new folder.";
  list.push_back(copilot);

  Agent cline{.name = "cline", .title = "Cline", .source = "cline", .format = Format::kScripts};
  cline.programs = {"cline"};
  cline.folder = {"CLINE_DIR", ".cline"};
  cline.user_file = "hooks";
  cline.project_file = ".clinerules/hooks";
  cline.more_script_dirs = {"Documents/Cline/Hooks"};
  cline.pass_event = true;
  cline.timeout_key = "";
  cline.default_timeout_s = 120;
  cline.max_timeout_s = 120;
  cline.events = {
      E{"TaskStart"},        E{"TaskResume"},       E{"TaskCancel"},  E{"TaskComplete"},
      E{"UserPromptSubmit"}, E{"PreToolUse", true}, E{"PostToolUse"},
  };
  cline.follow_up =
      "tool hooks get a fixed 120 s: when that runs out Cline kills the hook with SIGKILL and goes "
      "on, and the approval stays on the desktop. A desktop deny ends Cline's whole run. After "
      "changing OMBREL_SERVER, end Cline's background hub.";
  list.push_back(cline);

  Agent kiro{.name = "kiro", .title = "Kiro CLI", .source = "kiro", .format = Format::kJsonFlat};
  kiro.programs = {"kiro-cli", "kiro"};
  kiro.folder = {"", ".kiro"};
  kiro.user_file = "agents/AGENT.json";
  kiro.project_file = ".kiro/agents/AGENT.json";
  kiro.typed = false;
  kiro.timeout_key = "timeout_ms";
  kiro.unit = TimeUnit::kMilliseconds;
  kiro.permission_timeout = 600000;
  kiro.default_timeout_s = 30;
  kiro.events = {E{"agentSpawn"}, E{"userPromptSubmit"}, E{"preToolUse", true}, E{"postToolUse"},
                 E{"stop"}};
  kiro.writes = false;
  kiro.warning =
      "Kiro keeps hooks in each of its agents' configuration (the `hooks` member of "
      "~/.kiro/agents/NAME.json) and is moving to another format; which file your agent uses is "
      "not known here: merge this `hooks` member into it.";
  kiro.follow_up = "Kiro goes ahead when a hook is killed at its timeout.";
  list.push_back(kiro);

  Agent kimi{.name = "kimi", .title = "Kimi Code CLI", .source = "kimi", .format = Format::kToml};
  kimi.programs = {"kimi", "kimi-code"};
  kimi.folder = {"KIMI_CODE_HOME", ".kimi-code"};
  kimi.user_file = "config.toml";
  kimi.default_timeout_s = 30;
  kimi.max_timeout_s = 600;
  // Only the event names every Kimi core accepts; an unknown one fails its validation.
  kimi.events = {
      E{"SessionStart"},
      E{"UserPromptSubmit"},
      E{"PreToolUse", true},
      E{"PermissionRequest", true},
      E{"PostToolUse"},
      E{"Notification"},
      E{"Stop"},
      E{"SubagentStart"},
      E{"SubagentStop"},
      E{"PreCompact"},
      E{"SessionEnd"},
  };
  kimi.follow_up =
      "the waiting hooks have 600 s, Kimi's maximum; a hook killed at its timeout lets Kimi go "
      "ahead.";
  list.push_back(kimi);

  Agent qoder{
      .name = "qoder", .title = "Qoder CLI", .source = "qoder", .format = Format::kJsonGroups};
  qoder.programs = {"qodercli"};
  qoder.folder = {"", ".qoder"};
  qoder.user_file = "settings.json";
  qoder.project_file = ".qoder/settings.json";
  qoder.events = claude_events(true);  // no matcher: Qoder's matcher syntax is not verified
  qoder.follow_up =
      "the waiting hooks (PreToolUse, PermissionRequest, Elicitation) have 600 s, since Qoder's "
      "documented default is 600 s or 60 s; Qoder was not run here (it needs an account).";
  list.push_back(qoder);

  Agent codebuddy{.name = "codebuddy",
                  .title = "CodeBuddy Code",
                  .source = "codebuddy",
                  .format = Format::kJsonGroups};
  codebuddy.programs = {"codebuddy"};
  codebuddy.folder = {"", ".codebuddy"};
  codebuddy.user_file = "settings.json";
  codebuddy.project_file = ".codebuddy/settings.json";
  codebuddy.default_timeout_s = 60;
  codebuddy.events = claude_events(true);
  codebuddy.writes = false;
  codebuddy.warning =
      "CodeBuddy's settings file is not documented (its hooks follow Claude Code's format): put "
      "this into CodeBuddy's hooks settings yourself.";
  codebuddy.follow_up = "CodeBuddy ends a hook after 60 s unless the timeout above is accepted.";
  list.push_back(codebuddy);

  Agent workbuddy{.name = "workbuddy",
                  .title = "WorkBuddy",
                  .source = "workbuddy",
                  .format = Format::kJsonGroups};
  workbuddy.programs = {"workbuddy"};
  workbuddy.folder = {"", ".workbuddy"};
  workbuddy.user_file = "settings.json";
  workbuddy.events = {E{"SessionStart"}, E{"UserPromptSubmit"}, E{"PreToolUse", true},
                      E{"PostToolUse"},  E{"Notification"},     E{"Stop"}};
  workbuddy.writes = false;
  workbuddy.warning =
      "WorkBuddy's hook configuration is not documented anywhere we found: this is Claude Code's "
      "format with --source workbuddy, to adapt to what WorkBuddy reads (add --event NAME if its "
      "payloads do not name their event).";
  workbuddy.follow_up = "WorkBuddy's timeouts are not known.";
  list.push_back(workbuddy);

  Agent reasonix{
      .name = "reasonix", .title = "Reasonix", .source = "reasonix", .format = Format::kJsonFlat};
  reasonix.programs = {"reasonix"};
  reasonix.folder = {"", ".reasonix"};
  reasonix.user_file = "settings.json";
  reasonix.project_file = ".reasonix/settings.json";
  reasonix.typed = false;
  reasonix.unit = TimeUnit::kMilliseconds;
  reasonix.permission_timeout = 600000;
  reasonix.default_timeout_s = 5;
  reasonix.events = {E{"PreToolUse", true}, E{"UserPromptSubmit"}, E{"Stop"}};
  reasonix.writes = false;
  reasonix.warning =
      "Reasonix's settings.json layout and home folder are not verified: add entries like these "
      "(`{match, command, timeout}`, timeout in ms) to its settings.json.";
  reasonix.follow_up = "Reasonix gives PreToolUse 5 s unless the timeout above is set.";
  list.push_back(reasonix);

  return list;
}

std::string join(const std::string& dir, std::string_view rest) {
  if (rest.empty()) return dir;
  return dir.ends_with('/') ? dir + std::string(rest) : dir + "/" + std::string(rest);
}

}  // namespace

std::span<const Agent> all_agents() {
  static const std::vector<Agent> agents = make_agents();  // constant data, built once
  return agents;
}

const Agent* find_agent(std::string_view name) {
  for (const Agent& agent : all_agents()) {
    if (agent.name == name) return &agent;
  }
  return nullptr;
}

std::string agent_folder(const Agent& agent, const Env& env) {
  if (!agent.folder.env_var.empty()) {
    if (auto moved = env.get(agent.folder.env_var)) {
      return agent.folder.env_is_home ? join(*moved, agent.folder.fallback) : *moved;
    }
  }
  return join(env.home(), agent.folder.fallback);
}

std::optional<std::string> config_path(const Agent& agent, const Env& env,
                                       const std::optional<std::string>& project_dir) {
  if (project_dir) {
    if (agent.project_file.empty()) return std::nullopt;
    return join(*project_dir, agent.project_file);
  }
  return join(agent_folder(agent, env), agent.user_file);
}

std::vector<std::string> script_dirs(const Agent& agent, const Env& env,
                                     const std::optional<std::string>& project_dir) {
  std::vector<std::string> dirs;
  if (auto first = config_path(agent, env, project_dir)) dirs.push_back(*first);
  if (!project_dir) {
    for (auto more : agent.more_script_dirs) dirs.push_back(join(env.home(), more));
  }
  return dirs;
}

double timeout_seconds(const Agent& agent, double value) {
  return agent.unit == TimeUnit::kMilliseconds ? value / 1000.0 : value;
}

}  // namespace ombrel::setup
