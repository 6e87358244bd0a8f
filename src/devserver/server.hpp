// The HTTP side of the stand-in desktop server: the five endpoints the hook and the
// launcher call, each answered with JSON on a connection that is closed afterwards.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "approvals.hpp"
#include "common/result.hpp"
#include "decision.hpp"
#include "options.hpp"
#include "output.hpp"
#include "tmux_registry.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace ombrel::devserver {

// Connections served at the same time; beyond this, new ones wait in the listen backlog.
inline constexpr std::size_t kMaxConnections = 512;
// Larger request bodies are refused with 413.
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

class DevServer {
 public:
  // The console must outlive the server; events may be null (no events file).
  DevServer(Policy policy, Console& console, EventsFile* events);
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  // Binds and listens; the result has the port actually in use (port 0 picks one).
  Result<ListenAddress> bind(const ListenAddress& address);
  // Serves connections until stop(). Fails only when serving could not start.
  Status run();
  // Releases every waiting approval (their clients get 503), refuses new ones and makes
  // run() return. Safe from any thread and more than once; returns how many approvals the
  // call released.
  std::size_t stop();

  // The approvals that wait for the terminal; a Prompter answers them.
  ApprovalBoard& board() { return board_; }

 private:
  void handle(const httplib::Request& request, httplib::Response& response);
  void on_state(const Json& body, httplib::Response& response);
  void on_permission(const Json& body, httplib::Response& response);
  void on_cancel(const Json& body, httplib::Response& response);
  void on_register(const Json& body, httplib::Response& response);
  void on_lookup(const Json& body, httplib::Response& response);

  Policy policy_;
  Console& console_;
  EventsFile* events_;
  ApprovalBoard board_;
  TmuxRegistry registry_;
  std::atomic<std::uint64_t> next_id_{0};
  std::unique_ptr<httplib::Server> http_;
  int listen_fd_ = -1;

  std::mutex run_mutex_;
  std::condition_variable run_changed_;
  bool running_ = false;
  bool stopping_ = false;
};

}  // namespace ombrel::devserver
