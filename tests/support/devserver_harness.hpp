// The real ombrel-devserver as a child on a free port, with stdin writable and stdout
// collected while it runs; and a raw-socket client that sends exactly the bytes given and
// reads the answer until the server closes the connection.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ombrel::test {

struct HttpReply {
  int status = 0;    // 0: no status line arrived
  std::string head;  // status line and headers
  std::string body;
  bool closed = false;  // the server closed the connection
};

class Connection {
 public:
  Connection(std::uint16_t port, const std::string& bytes);  // connects and sends
  ~Connection();
  Connection(Connection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Connection(const Connection&) = delete;

  void send(const std::string& bytes);  // more of the request; a refusal stops it quietly
  void end_writing();
  bool answered() const;  // something (an answer or the close) is there to read now
  HttpReply reply();      // reads until the close, for at most 20 seconds

 private:
  int fd_ = -1;
};

std::string request_text(const std::string& method, const std::string& path,
                         const std::string& body);
inline HttpReply post(std::uint16_t port, const std::string& path, const std::string& body) {
  return Connection(port, request_text("POST", path, body)).reply();
}

struct ServerExit {
  int exit_code = -1;
  std::string out;
};

class DevServer {
 public:
  // Starts the program with "--listen 127.0.0.1:0" and the arguments; nothing (and a test
  // failure) when the address line does not come. Every wait on it lasts at most patience.
  static std::unique_ptr<DevServer> start(const std::string& program,
                                          const std::vector<std::string>& args,
                                          std::chrono::seconds patience = std::chrono::seconds(20));
  ~DevServer();

  std::uint16_t port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Waits until stdout holds the text count times.
  bool wait_for(const std::string& text, std::size_t count = 1) const;
  std::string output() const;
  void type(const std::string& text);  // to the server's stdin
  void end_input();
  ServerExit stop(int signal);

 private:
  DevServer() = default;
  void pump();

  std::chrono::seconds patience_{20};
  pid_t pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string out_;
  bool ended_ = false;
  std::thread pumper_;
};

}  // namespace ombrel::test
