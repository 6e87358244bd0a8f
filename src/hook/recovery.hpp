// Salvaging Cursor payloads that strict parsing rejects: first a complete object with
// "cursor_version" anywhere in the text, then the known members picked out one by one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace ombrel::hook {

// The salvaged payload (an object), or nothing. Logs which parser succeeded.
std::optional<Json> recover_cursor_payload(std::string_view raw, const std::string& log_path);

}  // namespace ombrel::hook
