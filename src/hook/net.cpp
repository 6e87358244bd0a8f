#include "net.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ombrel::hook {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

Error system_error(int err) {
  return fail(std::strerror(err));
}

// Waits for one event on fd. True when it came; false with errno = ETIMEDOUT or the error.
bool wait_for(int fd, short events, Deadline deadline) {
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (rc > 0) return true;
    if (rc == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

Result<Address> resolve(const std::string& host, std::uint16_t port) {
  Address addr;
  // Literal addresses, the usual case (127.0.0.1), need no resolver at all.
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr.storage);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    addr.length = sizeof(sockaddr_in);
    return addr;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr.storage);
  if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    addr.length = sizeof(sockaddr_in6);
    return addr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    std::string message = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
    return fail(message);
  }
  if (found == nullptr) return fail("could not resolve server address");
  std::memcpy(&addr.storage, found->ai_addr, found->ai_addrlen);
  addr.length = found->ai_addrlen;
  freeaddrinfo(found);
  return addr;
}

// A non-blocking, close-on-exec stream socket that never raises SIGPIPE: one system call
// where the flags can be given at creation, the portable way elsewhere.
Fd stream_socket(int family) {
#if defined(SOCK_NONBLOCK) && defined(SOCK_CLOEXEC)
  return Fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
#else
  Fd fd(socket(family, SOCK_STREAM, 0));
  if (fd.get() < 0) return fd;
  fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
  int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  return fd;
#endif
}

}  // namespace

Result<Fd> connect_tcp(const std::string& host, std::uint16_t port, Deadline deadline) {
  auto addr = resolve(host, port);
  if (!addr) return Error{addr.error()};
  Fd fd = stream_socket(addr.value().storage.ss_family);
  if (fd.get() < 0) return system_error(errno);
  const auto* sa = reinterpret_cast<const sockaddr*>(&addr.value().storage);
  if (connect(fd.get(), sa, addr.value().length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return system_error(errno);
    if (!wait_for(fd.get(), POLLOUT, deadline)) {
      return errno == ETIMEDOUT ? fail("connection timed out") : system_error(errno);
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return system_error(errno);
    if (err != 0) return system_error(err);
  }
  return fd;
}

Status send_all(int fd, std::string_view head, std::string_view body, Deadline deadline) {
  iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(body.data()), body.size()}};
  iovec* iov = parts;
  int count = 2;
  while (count > 0) {
    if (iov->iov_len == 0) {
      ++iov;
      --count;
      continue;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = count;
    ssize_t n = sendmsg(fd, &msg, kSendFlags);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return system_error(errno);
      if (!wait_for(fd, POLLOUT, deadline)) {
        return errno == ETIMEDOUT ? fail("write timed out") : system_error(errno);
      }
      continue;
    }
    auto sent = static_cast<std::size_t>(n);
    while (count > 0 && sent >= iov->iov_len) {
      sent -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + sent;
      iov->iov_len -= sent;
    }
  }
  return Status::success();
}

Result<std::string> read_to_end(int fd, Deadline deadline, std::size_t max_bytes) {
  std::string data;
  char buf[16384];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      if (data.size() + static_cast<std::size_t>(n) > max_bytes) {
        return fail("response larger than " + std::to_string(max_bytes >> 20) + " MiB");
      }
      data.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return data;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return system_error(errno);
    if (!wait_for(fd, POLLIN, deadline)) {
      return errno == ETIMEDOUT ? fail("read timed out") : system_error(errno);
    }
  }
}

}  // namespace ombrel::hook
