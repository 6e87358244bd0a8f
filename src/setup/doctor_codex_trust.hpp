// Codex runs a hook from a file the user controls only once the user has trusted it (the
// "Hooks need review" screen, or /hooks). It keeps that trust in $CODEX_HOME/config.toml:
//
//   [hooks.state."<path of hooks.json or config.toml>:<event in snake case>:<group>:<handler>"]
//   trusted_hash = "sha256:<hex>"
//
// keyed by position, with a hash of what was trusted. Codex 0.171.0, run offline, showed the
// hash to be SHA-256 of the compact JSON, keys sorted, of
//   {"event_name": "<event in snake case>",
//    "hooks": [{"async": false, "command": "...", "statusMessage": "...", "timeout": 600,
//               "type": "command"}],
//    "matcher": "*"}
// where async defaults to false, statusMessage is left out when absent, timeout is at least
// 1 and defaults to 600 (SessionEnd and Interrupt: cut to 3, default 1), and matcher is left
// out when absent and for the events that ignore it (all but PreToolUse, PermissionRequest,
// PostToolUse and SessionStart). Any edit of the command, timeout or matcher thus makes Codex
// ask again.
#pragma once

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "doctor_check.hpp"

namespace ombrel::doctor {

// "PermissionRequest" gives "permission_request".
std::string codex_event_name(std::string_view event);

struct CodexHookPlace {
  std::string file;   // the hooks.json or config.toml that holds it, as Codex names it
  std::string event;  // as written in the file, e.g. "PermissionRequest"
  std::size_t group = 0;
  std::size_t handler = 0;
};

std::string codex_trust_key(const CodexHookPlace& place);

// The hash Codex would store for the handler at place in the hooks read_codex_hooks gave, as
// "sha256:<hex>"; an error when nothing of that shape is there.
Result<std::string> codex_trust_hash(const nlohmann::json& hooks_file, const CodexHookPlace& place);

// The hooks of a hooks.json, or of config.toml's inline [[hooks.EVENT]] tables (which Codex
// keys and hashes the same way, by the path of config.toml), as hooks.json would hold them.
Result<nlohmann::json> read_codex_hooks(const std::string& file);

// The trusted hashes in config.toml's [hooks.state], by key. A missing file holds none; a
// file that does not parse is an error naming the line.
Result<std::map<std::string, std::string>> read_codex_trust(const std::string& config_toml);

// The trust row for our entries: pending when a place has no stored hash, changed when the
// stored hash is not the one of what is there now.
Check check_codex_trust(const std::vector<CodexHookPlace>& ours,
                        const std::map<std::string, nlohmann::json>& hooks_files,
                        const std::map<std::string, std::string>& trusted);

}  // namespace ombrel::doctor
