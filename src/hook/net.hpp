// Blocking TCP with a time limit on each step: connect, every write, every read.
// Interrupted system calls are resumed with the time that is left; writes never raise
// SIGPIPE.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace ombrel::hook {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

using Millis = std::chrono::milliseconds;

// Resolves host and port (numeric addresses without the resolver) and connects to the
// first address found.
Result<Fd> connect_tcp(const std::string& host, std::uint16_t port, Millis timeout);
// Sends all bytes of both parts, waiting at most timeout for each chance to write.
Status send_all(int fd, std::string_view head, std::string_view body, Millis timeout);
// Reads until the peer closes, waiting at most timeout for each read; fails when more
// than max_bytes arrive.
Result<std::string> read_to_end(int fd, Millis timeout, std::size_t max_bytes);

}  // namespace ombrel::hook
