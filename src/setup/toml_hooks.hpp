// Our [[hooks]] tables in Kimi's config.toml. That file also holds the user's providers and
// API keys, with their comments and layout, which no TOML library writes back as they were
// (toml++ drops comments and rewrites every value). So toml++ only reads: it checks the file
// and says where each [[hooks]] table starts; the edits are textual, and touch only the lines
// of our own tables: appended at the end, replaced in place, or cut out again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agents.hpp"
#include "common/result.hpp"
#include "entries.hpp"

namespace ombrel::setup {

// Our entries; an error naming the line and column when the text is not valid TOML, or when
// its `hooks` is not a list of [[hooks]] tables.
Result<std::vector<Entry>> find_toml_entries(std::string_view text);

// Our entries among the [[hooks.EVENT]] groups of Codex's config.toml (read, never written:
// setup writes Codex's hooks.json), with their group and handler positions.
Result<std::vector<Entry>> find_codex_toml_entries(std::string_view text);

// The text with every event of the agent wired.
Result<std::string> wire_toml(const Agent& agent, std::string_view text,
                              std::string_view hook_path);

// The text without our tables.
Result<std::string> unwire_toml(std::string_view text);

}  // namespace ombrel::setup
