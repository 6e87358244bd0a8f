// Our entries in an agent's JSON file: found, added or brought up to date in place, and taken
// out again. The document is nlohmann's ordered_json, which keeps the user's member order;
// entries are only ever appended at the end of an event's list, never inserted before the
// user's (Codex keeps its trust by position).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "agents.hpp"
#include "common/result.hpp"
#include "entries.hpp"

namespace ombrel::setup {

using Json = nlohmann::ordered_json;

// The file's text as a JSON object; a blank text is an empty object. A text that does not
// parse, holds comments, or is not an object is an error naming the line and column.
Result<Json> parse_json_config(std::string_view text);

// Every entry of ours, in file order.
std::vector<Entry> find_json_entries(const Agent& agent, const Json& doc);

// Wires every event of the agent with the hook; the result tells whether anything changed.
// An error when a member we must add to has the wrong type.
Result<bool> wire_json(const Agent& agent, Json& doc, std::string_view hook_path);

// Takes out our entries and the lists and members left empty by that; true when it changed.
bool unwire_json(const Agent& agent, Json& doc);

// The document as text in the style of the original: its indentation and final newline.
std::string dump_json_like(const Json& doc, std::string_view original);

}  // namespace ombrel::setup
