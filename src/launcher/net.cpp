#include "net.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

namespace ombrel::launcher {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

using Clock = std::chrono::steady_clock;

std::string describe(int err) {
  return std::strerror(err);
}

int millis_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the events until the deadline; false with errno set on timeout or failure.
bool wait_ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, millis_left(deadline));
    if (rc > 0) return true;
    if (rc == 0) {
      // The same description a socket receive or send timeout reports.
      errno = EAGAIN;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

void set_io_timeouts(int fd, Millis timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  // Failures are harmless: every read and write below is bounded by poll as well.
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

Result<Fd> connect_with_timeout(const std::string& host, std::uint16_t port, Millis timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // Bracketed IPv6 literals as written in URLs ("[::1]") are given to the resolver bare.
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  int rc = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return fail(rc == EAI_SYSTEM ? describe(errno) : gai_strerror(rc));
  if (found == nullptr) return fail("could not resolve server");
  const addrinfo first = *found;
  Fd fd(socket(first.ai_family, first.ai_socktype, first.ai_protocol));
  if (!fd.valid()) {
    int err = errno;
    freeaddrinfo(found);
    return fail(describe(err));
  }
  fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
#ifdef SO_NOSIGPIPE
  int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  const int flags = fcntl(fd.get(), F_GETFL);
  fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  const auto deadline = Clock::now() + timeout;
  rc = connect(fd.get(), first.ai_addr, first.ai_addrlen);
  int err = errno;
  freeaddrinfo(found);
  if (rc != 0 && err != EINPROGRESS && err != EINTR) return fail(describe(err));
  if (rc != 0) {
    if (!wait_ready(fd.get(), POLLOUT, deadline)) {
      return fail(describe(errno == EAGAIN ? ETIMEDOUT : errno));
    }
    socklen_t len = sizeof err;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail(describe(errno));
    if (err != 0) return fail(describe(err));
  }
  fcntl(fd.get(), F_SETFL, flags);
  set_io_timeouts(fd.get(), timeout);
  return fd;
}

Status send_all(int fd, std::string_view bytes, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!bytes.empty()) {
    if (!wait_ready(fd, POLLOUT, deadline)) return fail(describe(errno));
    ssize_t w = send(fd, bytes.data(), bytes.size(), kSendFlags);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return fail(describe(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(w));
  }
  return {};
}

Result<std::string> read_to_close(int fd, Millis timeout, std::size_t max_bytes) {
  const auto deadline = Clock::now() + timeout;
  std::string data;
  char buf[16384];
  for (;;) {
    if (!wait_ready(fd, POLLIN, deadline)) return fail(describe(errno));
    ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r == 0) return data;
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return fail(describe(errno));
    }
    data.append(buf, static_cast<std::size_t>(r));
    if (data.size() > max_bytes) {
      return fail("response larger than " + std::to_string(max_bytes) + " bytes");
    }
  }
}

}  // namespace ombrel::launcher
