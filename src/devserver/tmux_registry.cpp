#include "tmux_registry.hpp"

namespace ombrel::devserver {

Status TmuxRegistry::add_registration(const Json& body) {
  const Json* name = member(body, "tmux_name");
  if (name == nullptr || !name->is_string() || name->get_ref<const std::string&>().empty()) {
    return fail("\"tmux_name\" must be a non-empty string");
  }
  std::lock_guard lock(mutex_);
  registrations_.insert_or_assign(name->get<std::string>(), body);
  return {};
}

void TmuxRegistry::note_state_report(const Json& report) {
  const Json* tmux = member(report, "om_tmux_session");
  const Json* session = member(report, "session_id");
  if (tmux == nullptr || !tmux->is_string() || tmux->get_ref<const std::string&>().empty()) return;
  if (session == nullptr || !session->is_string() ||
      session->get_ref<const std::string&>().empty()) {
    return;
  }
  std::lock_guard lock(mutex_);
  agent_sessions_.insert_or_assign(tmux->get<std::string>(), session->get<std::string>());
}

std::optional<std::string> TmuxRegistry::agent_session(const std::string& tmux_name) const {
  std::lock_guard lock(mutex_);
  auto it = agent_sessions_.find(tmux_name);
  if (it == agent_sessions_.end()) return std::nullopt;
  return it->second;
}

Json lookup_answer(const std::optional<std::string>& session_id) {
  Json answer = Json::object();
  answer["ai_session_id"] = session_id ? Json(*session_id) : Json(nullptr);
  return answer;
}

}  // namespace ombrel::devserver
