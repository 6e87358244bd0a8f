// The approvals that wait for an answer on the terminal. Any number may be pending at once;
// each waiting client blocks only on its own approval. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "decision.hpp"

namespace ombrel::devserver {

enum class Release {
  Decided,      // the terminal answered
  Withdrawn,    // the client's session cancelled it
  ShuttingDown  // the server is stopping
};

struct Outcome {
  Release release = Release::ShuttingDown;
  Decision decision;  // set when decided
};

struct PendingApproval {
  std::uint64_t id = 0;
  ApprovalRequest request;
};

class ApprovalBoard {
 public:
  // Called without the board's lock after approvals were withdrawn or the board closed,
  // so that whoever is prompting can notice. Set before any other use.
  void set_release_observer(std::function<void()> observer);

  // Adds a pending approval under a new id; false once the board is closed. From now on a
  // cancel of its session finds it, but the prompt does not see it before show().
  bool open(std::uint64_t id, ApprovalRequest request);
  // Queues an open approval for the prompt.
  void show(std::uint64_t id);
  // Blocks until the approval is released, then forgets it. An unknown id is reported as
  // shutting down.
  Outcome wait(std::uint64_t id);
  // Decides a pending approval; false when it is no longer pending.
  bool decide(std::uint64_t id, Decision decision);
  // Withdraws every pending approval of the session; returns their ids in ascending order.
  std::vector<std::uint64_t> withdraw_session(std::string_view session_id);
  // Releases everything pending and refuses new approvals; returns how many were released.
  std::size_t close();

  bool is_pending(std::uint64_t id) const;
  // Blocks until an approval that has not been shown yet is pending, oldest first; nothing
  // once the board is closed.
  std::optional<PendingApproval> next_to_prompt();

 private:
  struct Entry {
    ApprovalRequest request;
    std::optional<Outcome> outcome;  // set when released
  };

  void notify_released();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, Entry> entries_;
  std::deque<std::uint64_t> to_prompt_;
  bool closed_ = false;
  std::function<void()> observer_;
};

}  // namespace ombrel::devserver
