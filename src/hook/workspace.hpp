// The directory the agent works in, searched in the payload in a fixed order. Paths are
// not looked up in the file system, made absolute or decoded.
#pragma once

#include <optional>
#include <string>

#include "json_text.hpp"

namespace ombrel::hook {

// A JSON string with the first usable workspace path, or null.
Json cwd_from_payload(const Json& payload);
// The path a string, list or workspace object names, if any.
std::optional<std::string> workspace_path_from_value(const Json& value);

}  // namespace ombrel::hook
