// Salvaging Cursor payloads that strict parsing rejects: first a complete object with
// "cursor_version" anywhere in the text, then the known members picked out one by one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace ombrel::hook {

// The salvaged payload (an object), or nothing. Logs which parser succeeded; the field
// parser runs only when the text contains "cursor_version".
std::optional<Json> recover_cursor_payload(std::string_view raw, const std::string& log_path);

// The first object with a member "cursor_version" that the JSON parser reads from some
// "{" or "[" of the text, ignoring what follows it. Logs nothing.
std::optional<Json> parse_first_cursor_object(std::string_view raw);

// The fixed string, integer and "workspace_roots" members read one by one from a text
// that is not JSON; nothing unless both "cursor_version" and "hook_event_name" are
// found. Logs nothing.
std::optional<Json> parse_cursor_fields(std::string_view raw);

}  // namespace ombrel::hook
