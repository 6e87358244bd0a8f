// The tmux sessions that ombrel run registered, and which agent session reported from each
// of them. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/result.hpp"
#include "json_fields.hpp"

namespace ombrel::devserver {

class TmuxRegistry {
 public:
  // Keeps a registration under its "tmux_name" (a later one replaces an earlier one).
  // Fails when "tmux_name" is not a non-empty string.
  Status add_registration(const Json& body);
  // Remembers the session id of a state report that carries a non-empty "om_tmux_session".
  // A report without a session id changes nothing: it cannot make a known session unknown.
  void note_state_report(const Json& report);
  // The session id of the latest state report from that tmux session; nothing when none
  // has arrived.
  std::optional<std::string> agent_session(const std::string& tmux_name) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Json, std::less<>> registrations_;
  std::map<std::string, std::string, std::less<>> agent_sessions_;
};

// The answer to a lookup: {"ai_session_id": id or null}.
Json lookup_answer(const std::optional<std::string>& session_id);

}  // namespace ombrel::devserver
