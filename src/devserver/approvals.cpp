#include "approvals.hpp"

namespace ombrel::devserver {

void ApprovalBoard::set_release_observer(std::function<void()> observer) {
  observer_ = std::move(observer);
}

bool ApprovalBoard::open(std::uint64_t id, ApprovalRequest request) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || entries_.count(id) != 0) return false;
    entries_.emplace(id, Entry{std::move(request), std::nullopt});
  }
  return true;
}

void ApprovalBoard::show(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    to_prompt_.push_back(id);
  }
  changed_.notify_all();
}

Outcome ApprovalBoard::wait(std::uint64_t id) {
  std::unique_lock lock(mutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return Outcome{};
  changed_.wait(lock, [&] { return it->second.outcome.has_value(); });
  Outcome outcome = std::move(*it->second.outcome);
  entries_.erase(it);
  return outcome;
}

bool ApprovalBoard::decide(std::uint64_t id, Decision decision) {
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end() || it->second.outcome) return false;
    it->second.outcome = Outcome{Release::Decided, std::move(decision)};
  }
  changed_.notify_all();
  return true;
}

std::vector<std::uint64_t> ApprovalBoard::withdraw_session(std::string_view session_id) {
  std::vector<std::uint64_t> withdrawn;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, entry] : entries_) {
      if (!entry.outcome && entry.request.session_id == session_id) {
        entry.outcome = Outcome{Release::Withdrawn, {}};
        withdrawn.push_back(id);
      }
    }
  }
  if (!withdrawn.empty()) notify_released();
  return withdrawn;
}

std::size_t ApprovalBoard::close() {
  std::size_t released = 0;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return 0;
    closed_ = true;
    for (auto& [id, entry] : entries_) {
      if (!entry.outcome) {
        entry.outcome = Outcome{Release::ShuttingDown, {}};
        ++released;
      }
    }
  }
  notify_released();
  return released;
}

bool ApprovalBoard::is_pending(std::uint64_t id) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(id);
  return it != entries_.end() && !it->second.outcome;
}

std::optional<PendingApproval> ApprovalBoard::next_to_prompt() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (closed_) return std::nullopt;
    while (!to_prompt_.empty()) {
      std::uint64_t id = to_prompt_.front();
      to_prompt_.pop_front();
      auto it = entries_.find(id);
      if (it != entries_.end() && !it->second.outcome)
        return PendingApproval{id, it->second.request};
    }
    changed_.wait(lock);
  }
}

void ApprovalBoard::notify_released() {
  changed_.notify_all();
  if (observer_) observer_();
}

}  // namespace ombrel::devserver
