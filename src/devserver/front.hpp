// The sockets of the server, all owned by one thread: it accepts, reads each request whole
// within its limits and its time, and writes the answers. Handlers run on other threads and
// never touch a socket. A client therefore costs the server a descriptor and a bounded
// buffer, never a thread; no client can delay another one, and none can delay a stop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "common/fd.hpp"
#include "common/result.hpp"
#include "http_reply.hpp"
#include "http_request.hpp"
#include "options.hpp"

namespace ombrel::devserver {

using Clock = std::chrono::steady_clock;

// A request must arrive whole this soon after its connection was accepted; every client
// of the desktop sends its request at once. A client that trickles is answered 408.
inline constexpr auto kRequestTime = std::chrono::seconds(5);
// Writing an answer; a client that does not read it is dropped.
inline constexpr auto kAnswerTime = std::chrono::seconds(5);
// After an answer, what the client still sends (the rest of a refused body) is read and
// dropped for this long before the close, so that the answer is not lost to a reset.
inline constexpr auto kLingerTime = std::chrono::seconds(2);
// On stop, answers that are already on their way get this long to go out.
inline constexpr auto kStopGrace = std::chrono::milliseconds(300);
// Connections being read, answered or closed at once. When a new one comes beyond this,
// the one accepted first goes: a report arrives whole in a moment, so it is the
// connections that hold on without finishing that make room.
inline constexpr std::size_t kMaxOpenConnections = 1024;

// Raises the soft limit of open descriptors towards what the server can use (macOS starts
// processes with 256). Best effort.
void raise_descriptor_limit();

using ConnectionId = std::uint64_t;

class Front {
 public:
  // Runs on the front's thread for each complete request and must not block; the answer
  // comes later through answer().
  using Dispatch = std::function<void(ConnectionId, HttpRequest)>;

  // Binds and listens; the port in use is port() (port 0 picks one).
  static Result<std::unique_ptr<Front>> listen(const ListenAddress& address);
  ~Front();
  Front(const Front&) = delete;
  Front& operator=(const Front&) = delete;

  int port() const { return port_; }
  // Serves until stop().
  Status run(const Dispatch& dispatch);
  // The answer to a dispatched request. From any thread; dropped when the connection is
  // gone.
  void answer(ConnectionId id, Reply reply);
  // Makes run() return within kStopGrace (and at once when nothing is being answered).
  // From any thread, also before run().
  void stop();

 private:
  enum class Phase { Reading, Handling, Writing, Lingering };
  struct Connection {
    Fd fd;
    Phase phase = Phase::Reading;
    Clock::time_point deadline;
    RequestReader reader;
    std::string out;
    std::size_t sent = 0;
  };

  Front(Fd listener, Fd wake_read, Fd wake_write, int port);
  void accept_new(Clock::time_point now);
  bool make_room();
  // Each returns false when the connection is to be closed now.
  bool on_readable(ConnectionId id, Connection& connection, const Dispatch& dispatch,
                   Clock::time_point now);
  bool on_writable(Connection& connection, Clock::time_point now);
  bool linger(Connection& connection);
  void start_writing(Connection& connection, const Reply& reply, Clock::time_point now);
  void take_answers(Clock::time_point now);
  void expire(Clock::time_point now);
  void begin_stop(Clock::time_point now);
  bool stop_done(Clock::time_point now) const;
  int poll_timeout(Clock::time_point now) const;

  Fd listener_, wake_read_, wake_write_;
  int port_ = 0;
  std::size_t capacity_ = kMaxOpenConnections;
  // By id, which grows with each accept: the first entries are the oldest.
  std::map<ConnectionId, Connection> connections_;
  ConnectionId next_id_ = 0;
  std::size_t handling_ = 0;  // connections whose request is with a handler
  Clock::time_point accept_paused_until_{};
  bool stop_begun_ = false;
  Clock::time_point stop_deadline_{};

  std::atomic<bool> stopping_{false};
  std::mutex answers_mutex_;
  std::vector<std::pair<ConnectionId, Reply>> answers_;
};

}  // namespace ombrel::devserver
