// The twelve agents as ombrel setup knows them: where each keeps its hooks, in which format,
// which events it fires that the desktop uses, how its timeouts are given, and whether what we
// know is enough to write its file or only to print a snippet. The facts come from each agent's
// own package or documentation; docs/agents.md has them with their versions.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "environment.hpp"

namespace ombrel::setup {

enum class Format {
  kJsonGroups,  // hooks.<Event>: [{matcher?, hooks: [{type: "command", command, timeout?}]}]
  kJsonFlat,    // hooks.<event>: [{type?: "command", <command key>, <timeout key>?}]
  kToml,        // [[hooks]] tables: event, command, timeout (Kimi's config.toml)
  kScripts,     // one script per event, named after it, in a folder (Cline)
};

enum class TimeUnit { kSeconds, kMilliseconds };

struct HookEvent {
  std::string_view name{};
  bool permission = false;  // the hook waits for the user's decision: longest timeout
  bool matched = false;     // gets the agent's match-all matcher (where it has one)
  bool no_timeout = false;  // never given a timeout (Codex cuts SessionEnd to 3 s and warns)
};

// A configuration folder: a path under HOME, unless an environment variable moves it (to
// its value, or, for env_is_home, to the same path under its value).
struct ConfigFolder {
  std::string_view env_var;   // empty: none
  std::string_view fallback;  // relative to HOME
  bool env_is_home = false;
};

struct Agent {
  std::string_view name{};    // what users type: ombrel setup claude
  std::string_view title{};   // Claude Code
  std::string_view source{};  // --source for the hook
  Format format{};
  std::vector<std::string_view> programs{};  // any of them on PATH: installed
  ConfigFolder folder{};                     // its configuration folder (it existing: installed)
  std::string_view user_file{};              // relative to the folder; for kScripts the folder
  std::string_view project_file{};           // relative to a project folder; empty: none
  std::vector<std::string_view> more_script_dirs{};  // kScripts: other folders it reads (HOME)
  bool pass_event = false;                           // --event NAME on every command
  std::string_view matcher{};                        // the match-all matcher; empty: none written
  std::string_view command_key = "command";
  bool typed = true;                         // entries carry "type": "command"
  std::string_view handler_name{};           // a "name" member on each handler (Gemini)
  std::string_view timeout_key = "timeout";  // empty: no timeout can be set
  TimeUnit unit = TimeUnit::kSeconds;
  int permission_timeout = 600;               // in `unit`
  std::optional<int> default_timeout_s{};     // what the agent allows a hook without a timeout
  std::optional<int> max_timeout_s{};         // the agent's maximum, where one is known
  std::vector<std::string_view> root_keys{};  // kJsonFlat: members a new file starts with
  bool writes = true;                         // false: only a snippet, with `warning`
  std::string_view warning{};
  std::string_view follow_up{};  // what the user must still do after wiring
  std::vector<HookEvent> events{};
};

// All twelve, in the order they are shown.
std::span<const Agent> all_agents();
const Agent* find_agent(std::string_view name);

// The agent's configuration folder under this environment.
std::string agent_folder(const Agent& agent, const Env& env);
// The file (or, for kScripts, the folder) setup writes: the user's, or the project's under
// project_dir; nothing when the agent has no project-level file.
std::optional<std::string> config_path(const Agent& agent, const Env& env,
                                       const std::optional<std::string>& project_dir);
// Every folder a kScripts agent reads scripts from, the one setup writes first.
std::vector<std::string> script_dirs(const Agent& agent, const Env& env,
                                     const std::optional<std::string>& project_dir);

// Seconds for a timeout value as the agent writes it.
double timeout_seconds(const Agent& agent, double value);

}  // namespace ombrel::setup
