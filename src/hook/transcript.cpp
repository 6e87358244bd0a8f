#include "transcript.hpp"

namespace ombrel::hook {

// Placeholder until conversation context lands: nothing is found.
std::optional<std::string> resolve_transcript_path(std::string_view, const Json&) {
  return std::nullopt;
}

std::optional<std::string> last_user_message_from_payload(std::string_view, std::string_view,
                                                          const Json&, const std::string&) {
  return std::nullopt;
}

std::optional<std::string> resolve_last_assistant_message(std::string_view, const Json&) {
  return std::nullopt;
}

std::optional<std::string> text_from_value(const Json*) { return std::nullopt; }

std::string preview_for_log(std::string_view text) { return std::string(text); }

}  // namespace ombrel::hook
