#include "workspace.hpp"

namespace ombrel::hook {

// Placeholder until conversation context lands: nothing is found.
Json cwd_from_payload(const Json&) { return nullptr; }

std::optional<std::string> workspace_path_from_value(const Json&) { return std::nullopt; }

}  // namespace ombrel::hook
