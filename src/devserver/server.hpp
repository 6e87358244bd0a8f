// The stand-in desktop server: the five endpoints the hook and the launcher call, each
// answered with JSON on a connection that is closed afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "approvals.hpp"
#include "common/result.hpp"
#include "decision.hpp"
#include "front.hpp"
#include "handler_threads.hpp"
#include "options.hpp"
#include "output.hpp"
#include "tmux_registry.hpp"

namespace ombrel::devserver {

// Approvals that may wait for the terminal at once; beyond this a request is refused with
// 503 (the hook then answers its agent harmlessly), so that waiting approvals can never
// take every thread.
inline constexpr std::size_t kMaxWaitingApprovals = 512;
// Requests answered at once: every waiting approval and room for the quick ones beside.
inline constexpr std::size_t kMaxHandlers = kMaxWaitingApprovals + 64;

class DevServer {
 public:
  // The console must outlive the server; events may be null (no events file).
  DevServer(Policy policy, Console& console, EventsFile* events);
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  // Binds and listens; the result has the port actually in use (port 0 picks one).
  Result<ListenAddress> bind(const ListenAddress& address);
  // Serves connections until stop(), then waits for the requests being answered.
  Status run();
  // Releases every waiting approval (their clients get 503), refuses new ones and makes
  // run() return soon, whatever the clients do. Safe from any thread and more than once;
  // returns how many approvals the call released.
  std::size_t stop();

  // The approvals that wait for the terminal; a Prompter answers them.
  ApprovalBoard& board() { return board_; }

 private:
  void dispatch(ConnectionId id, HttpRequest request);
  Reply handle(const HttpRequest& request);
  Reply on_state(const Json& body);
  Reply on_permission(const Json& body);
  Reply on_cancel(const Json& body);
  Reply on_register(const Json& body);
  Reply on_lookup(const Json& body);

  Policy policy_;
  Console& console_;
  EventsFile* events_;
  ApprovalBoard board_;
  TmuxRegistry registry_;
  std::atomic<std::uint64_t> next_id_{0};
  std::atomic<std::size_t> waiting_{0};
  std::unique_ptr<Front> front_;
  // Last, so that it is destroyed first: it waits for the handlers, which use the rest.
  HandlerThreads handlers_{kMaxHandlers};
};

}  // namespace ombrel::devserver
