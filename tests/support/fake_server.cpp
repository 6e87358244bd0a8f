#include "fake_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ombrel::test {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Sockets of the test process must not leak into the programs it starts: a child holding a
// copy of a connection would keep it open after the server closes or resets it.
void close_on_exec(int fd) {
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

int listen_on_loopback(std::uint16_t* port, Loopback loopback = Loopback::V4) {
  const bool v6 = loopback == Loopback::V6;
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  close_on_exec(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  auto* addr = reinterpret_cast<sockaddr*>(&storage);
  if (v6) {
    reinterpret_cast<sockaddr_in6*>(addr)->sin6_family = AF_INET6;
    reinterpret_cast<sockaddr_in6*>(addr)->sin6_addr = in6addr_loopback;
  } else {
    reinterpret_cast<sockaddr_in*>(addr)->sin_family = AF_INET;
    reinterpret_cast<sockaddr_in*>(addr)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  if (bind(fd, addr, len) != 0 || listen(fd, 512) != 0) {
    close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  getsockname(fd, addr, &len);
  *port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(addr)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(addr)->sin_port);
  return fd;
}

std::size_t content_length(const std::string& headers) {
  std::size_t pos = 0;
  while (pos < headers.size()) {
    std::size_t end = headers.find("\r\n", pos);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(pos, end - pos);
    for (auto& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line.rfind("content-length:", 0) == 0) return std::stoul(line.substr(15));
    pos = end + 2;
  }
  return 0;
}

}  // namespace

std::string http_response(int status, const std::string& reason, const std::string& body,
                          const std::string& extra_headers) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extra_headers + "\r\n" + body;
}

std::uint16_t unused_port() {
  std::uint16_t port = 0;
  int fd = listen_on_loopback(&port);
  close(fd);
  return port;
}

std::optional<Request> parse_request(const std::string& raw) {
  std::size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return std::nullopt;
  Request r;
  std::size_t line_end = raw.find("\r\n");
  std::string line = raw.substr(0, line_end);
  std::size_t sp1 = line.find(' ');
  std::size_t sp2 = line.rfind(' ');
  if (sp1 != std::string::npos && sp2 > sp1) {
    r.method = line.substr(0, sp1);
    r.path = line.substr(sp1 + 1, sp2 - sp1 - 1);
  }
  r.headers = line_end < head_end ? raw.substr(line_end + 2, head_end - line_end - 2) : "";
  std::size_t length = content_length(r.headers);
  if (raw.size() < head_end + 4 + length) return std::nullopt;
  r.body = raw.substr(head_end + 4, length);
  r.raw = raw.substr(0, head_end + 4 + length);
  return r;
}

FakeServer::FakeServer(Handler handler, Loopback loopback)
    : handler_(std::move(handler)), loopback_(loopback) {
  listen_fd_ = listen_on_loopback(&port_, loopback);
  if (pipe(wake_pipe_) != 0) throw std::runtime_error("pipe failed");
  close_on_exec(wake_pipe_[0]);
  close_on_exec(wake_pipe_[1]);
  acceptor_ = std::thread([this] { accept_loop(); });
}

FakeServer::FakeServer(std::string reply_bytes)
    : FakeServer([bytes = std::move(reply_bytes)](const Request&) { return Reply{bytes}; }) {}

FakeServer::~FakeServer() {
  stopping_ = true;
  char c = 'x';
  (void)!write(wake_pipe_[1], &c, 1);
  acceptor_.join();
  for (auto& w : workers_) w.join();
  close(listen_fd_);
  close(wake_pipe_[0]);
  close(wake_pipe_[1]);
}

std::string FakeServer::url() const {
  const char* host = loopback_ == Loopback::V6 ? "[::1]" : "127.0.0.1";
  return "http://" + std::string(host) + ":" + std::to_string(port_);
}

std::vector<Request> FakeServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FakeServer::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

bool FakeServer::wait_for_closed(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return closed_ >= n; });
}

void FakeServer::accept_loop() {
  while (!stopping_) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (stopping_ || fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
#ifdef SOCK_CLOEXEC
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);  // no window for a spawn
#else
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd >= 0) close_on_exec(fd);
#endif
    if (fd < 0) continue;
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

void FakeServer::serve(int fd) {
  auto wait_or_stop = [&](std::chrono::milliseconds ms) {
    // Sleeps, but wakes at once when the server stops or the peer closes.
    pollfd fds[2] = {{wake_pipe_[0], POLLIN, 0}, {fd, 0, 0}};
    poll(fds, 2, static_cast<int>(ms.count()));
    return !stopping_ && (fds[1].revents & (POLLHUP | POLLERR)) == 0;
  };
  auto finish = [&] {
    close(fd);
    std::lock_guard lock(mutex_);
    ++closed_;
    changed_.notify_all();
  };

  if (close_on_accept_) {
    finish();
    return;
  }

  std::string raw;
  std::optional<Request> request;
  char buf[65536];
  while (!request) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, 10000) <= 0 || stopping_ || fds[1].revents != 0) break;
    ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r <= 0) break;
    raw.append(buf, static_cast<std::size_t>(r));
    request = parse_request(raw);
  }
  if (!request) {
    finish();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(*request);
    changed_.notify_all();
  }

  Reply reply = handler_(*request);
  if (reply.delay.count() > 0 && !wait_or_stop(reply.delay)) {
    finish();
    return;
  }
  if (reply.never_answer) {
    while (wait_or_stop(std::chrono::milliseconds(1000))) {
    }
    finish();
    return;
  }
  if (reply.trickle.count() > 0) {
    for (char c : reply.bytes) {
      if (send(fd, &c, 1, kSendFlags) != 1 || !wait_or_stop(reply.trickle)) break;
    }
  } else {
    std::size_t sent = 0;
    while (sent < reply.bytes.size()) {
      ssize_t w = send(fd, reply.bytes.data() + sent, reply.bytes.size() - sent, kSendFlags);
      if (w <= 0) break;
      sent += static_cast<std::size_t>(w);
    }
  }
  if (reply.reset) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  } else if (reply.keep_open) {
    while (wait_or_stop(std::chrono::milliseconds(1000))) {
    }
  }
  finish();
}

}  // namespace ombrel::test
