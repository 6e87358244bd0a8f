// A scripted HTTP peer on 127.0.0.1 built on raw sockets, so that it can answer in ways a
// real server never would: malformed, chunked, slowly, partly, never, or by resetting.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ombrel::test {

struct Request {
  std::string raw;  // every byte received, headers and body
  std::string method;
  std::string path;
  std::string headers;  // the header block without the request line and the blank line
  std::string body;
};

struct Reply {
  std::string bytes;                     // sent as they are
  std::chrono::milliseconds delay{0};    // wait this long before answering
  std::chrono::milliseconds trickle{0};  // when non-zero, one byte per interval
  bool never_answer = false;             // hold the connection until the server stops
  bool keep_open = false;                // answer, then leave the connection open
  bool reset = false;                    // after the bytes, close with RST
};

// Response text with a status line, Content-Length and Connection: close.
std::string http_response(int status, const std::string& reason, const std::string& body,
                          const std::string& extra_headers = "");
inline std::string json_ok(const std::string& body) {
  return http_response(200, "OK", body);
}

// A port on 127.0.0.1 that nothing listens on (bound briefly, then released).
std::uint16_t unused_port();

enum class Loopback { V4, V6 };  // 127.0.0.1 or ::1

class FakeServer {
 public:
  using Handler = std::function<Reply(const Request&)>;

  explicit FakeServer(Handler handler, Loopback loopback = Loopback::V4);
  explicit FakeServer(std::string reply_bytes);  // the same answer to every request
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  std::uint16_t port() const { return port_; }
  std::string url() const;  // http://127.0.0.1:PORT, or http://[::1]:PORT
  // From now on, close every new connection at once, before reading anything.
  void close_on_accept(bool on) { close_on_accept_ = on; }

  std::vector<Request> requests() const;
  // Waits until at least n requests have arrived; false on timeout.
  bool wait_for_requests(
      std::size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;
  // Waits until n connections have been closed by either side; false on timeout.
  bool wait_for_closed(std::size_t n,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;

 private:
  void accept_loop();
  void serve(int fd);

  Handler handler_;
  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  Loopback loopback_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> close_on_accept_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Request> requests_;
  std::size_t closed_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

// Reads one complete HTTP request (headers and Content-Length body) from raw bytes.
// Nothing until the bytes hold a whole request.
std::optional<Request> parse_request(const std::string& raw);

}  // namespace ombrel::test
