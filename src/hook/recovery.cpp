#include "recovery.hpp"

namespace ombrel::hook {

// Placeholder until payload recovery lands: nothing is salvaged.
std::optional<Json> recover_cursor_payload(std::string_view, const std::string&) {
  return std::nullopt;
}

}  // namespace ombrel::hook
