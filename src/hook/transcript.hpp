// Conversation context from the payload: where the agent keeps its transcript, and the
// last user and assistant messages. Transcript files are located, never opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace ombrel::hook {

// The payload's own transcript path, else the agent's file under the home directory.
std::optional<std::string> resolve_transcript_path(std::string_view source, const Json& payload);

// The user's last message; writes one debug line saying where it was found.
std::optional<std::string> last_user_message_from_payload(std::string_view source,
                                                          std::string_view state_event,
                                                          const Json& payload,
                                                          const std::string& log_path);
std::optional<std::string> resolve_last_assistant_message(std::string_view source,
                                                          const Json& payload);

// A trimmed string, or the trimmed texts of a list of content parts joined by "\n".
std::optional<std::string> text_from_value(const Json* value);
// One line, white space collapsed, cut to 180 characters plus "…".
std::string preview_for_log(std::string_view text);

}  // namespace ombrel::hook
