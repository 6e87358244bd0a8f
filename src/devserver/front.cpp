#include "front.hpp"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace ombrel::devserver {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // macOS: SO_NOSIGPIPE on each socket instead
#endif

// Bytes taken from one connection per turn, so that a fast sender cannot starve the rest.
constexpr std::size_t kReadsPerTurn = 4;
constexpr std::size_t kAcceptsPerTurn = 64;
// How long accepting rests when descriptors ran out and nothing could be closed for room.
constexpr auto kAcceptRest = std::chrono::milliseconds(100);

bool set_descriptor_flags(int fd) {
  const int status = ::fcntl(fd, F_GETFL);
  const int flags = ::fcntl(fd, F_GETFD);
  return status >= 0 && flags >= 0 && ::fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

void set_no_sigpipe([[maybe_unused]] int fd) {
#ifdef SO_NOSIGPIPE
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

std::string errno_text() {
  return std::strerror(errno);
}

// A bound, listening socket for the first address of the host that takes it.
Result<Fd> bind_and_listen(const ListenAddress& address) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (int error = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); error != 0) {
    return fail(::gai_strerror(error));
  }
  std::string reason = "no address to listen on";
  Fd listener;
  for (addrinfo* at = found; at != nullptr && !listener.valid(); at = at->ai_next) {
    Fd candidate(::socket(at->ai_family, at->ai_socktype, at->ai_protocol));
    if (!candidate.valid()) continue;
    // Only SO_REUSEADDR: SO_REUSEPORT would let a second server bind the same port and
    // quietly take half of the connections.
    int on = 1, off = 0;
    ::setsockopt(candidate.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (at->ai_family == AF_INET6) {
      ::setsockopt(candidate.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(candidate.get(), at->ai_addr, at->ai_addrlen) != 0 ||
        ::listen(candidate.get(), SOMAXCONN) != 0 || !set_descriptor_flags(candidate.get())) {
      reason = errno == EADDRINUSE ? "the address is in use" : errno_text();
      continue;
    }
    listener = std::move(candidate);
  }
  ::freeaddrinfo(found);
  if (!listener.valid()) return fail(reason);
  return listener;
}

int bound_port(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

std::size_t descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return kMaxOpenConnections * 4;
  }
  return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace

void raise_descriptor_limit() {
  constexpr rlim_t kWanted = 4096;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  rlim_t wanted = kWanted;
  if (limit.rlim_max != RLIM_INFINITY) wanted = std::min(wanted, limit.rlim_max);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

Result<std::unique_ptr<Front>> Front::listen(const ListenAddress& address) {
  auto listener = bind_and_listen(address);
  if (!listener) return fail(listener.error());
  int wake[2];
  if (::pipe(wake) != 0) return fail("pipe: " + errno_text());
  Fd wake_read(wake[0]), wake_write(wake[1]);
  if (!set_descriptor_flags(wake[0]) || !set_descriptor_flags(wake[1])) {
    return fail("pipe flags: " + errno_text());
  }
  const int port = bound_port(listener.value().get());
  return std::unique_ptr<Front>(
      new Front(listener.take(), std::move(wake_read), std::move(wake_write), port));
}

Front::Front(Fd listener, Fd wake_read, Fd wake_write, int port)
    : listener_(std::move(listener)),
      wake_read_(std::move(wake_read)),
      wake_write_(std::move(wake_write)),
      port_(port),
      // Half the descriptors at most, so that answers being handled still find some.
      capacity_(std::clamp<std::size_t>(descriptor_limit() / 2, 16, kMaxOpenConnections)) {}

Front::~Front() = default;

void Front::answer(ConnectionId id, Reply reply) {
  {
    std::lock_guard lock(answers_mutex_);
    answers_.emplace_back(id, std::move(reply));
  }
  const char byte = 1;
  // A full pipe already holds a wake-up.
  (void)!::write(wake_write_.get(), &byte, 1);
}

void Front::stop() {
  stopping_ = true;
  const char byte = 1;
  (void)!::write(wake_write_.get(), &byte, 1);
}

Status Front::run(const Dispatch& dispatch) {
  std::vector<pollfd> fds;
  std::vector<ConnectionId> ids;
  for (;;) {
    Clock::time_point now = Clock::now();
    take_answers(now);
    if (stopping_ && !stop_begun_) begin_stop(now);
    if (stop_begun_ && stop_done(now)) break;
    expire(now);

    fds.assign({pollfd{wake_read_.get(), POLLIN, 0}});
    ids.clear();
    const bool accepting = !stop_begun_ && now >= accept_paused_until_;
    if (accepting) fds.push_back(pollfd{listener_.get(), POLLIN, 0});
    const std::size_t first = fds.size();
    for (const auto& [id, connection] : connections_) {
      short events = 0;
      if (connection.phase == Phase::Reading || connection.phase == Phase::Lingering) {
        events = POLLIN;
      } else if (connection.phase == Phase::Writing) {
        events = POLLOUT;
      }
      if (events == 0) continue;  // handled elsewhere: nothing to read or write yet
      fds.push_back(pollfd{connection.fd.get(), events, 0});
      ids.push_back(id);
    }
    if (::poll(fds.data(), static_cast<nfds_t>(fds.size()), poll_timeout(now)) < 0) {
      if (errno == EINTR) continue;
      return fail("poll: " + errno_text());
    }
    now = Clock::now();
    if (fds[0].revents != 0) {
      char drain[256];
      while (::read(wake_read_.get(), drain, sizeof drain) > 0) {
      }
    }
    for (std::size_t i = first; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto it = connections_.find(ids[i - first]);
      if (it == connections_.end()) continue;
      bool keep = true;
      switch (it->second.phase) {
        case Phase::Reading:
          keep = on_readable(it->first, it->second, dispatch, now);
          break;
        case Phase::Writing:
          keep = on_writable(it->second, now);
          break;
        case Phase::Lingering:
          keep = linger(it->second);
          break;
        case Phase::Handling:
          break;
      }
      if (!keep) connections_.erase(it);
    }
    if (accepting && (fds[1].revents & POLLIN) != 0) accept_new(now);
  }
  connections_.clear();
  listener_.reset();
  return {};
}

void Front::accept_new(Clock::time_point now) {
  for (std::size_t i = 0; i < kAcceptsPerTurn; ++i) {
    Fd accepted(::accept(listener_.get(), nullptr, nullptr));
    if (!accepted.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if ((errno == EMFILE || errno == ENFILE) && make_room()) continue;
      accept_paused_until_ = now + kAcceptRest;
      return;
    }
    if (!set_descriptor_flags(accepted.get())) continue;
    set_no_sigpipe(accepted.get());
    if (connections_.size() - handling_ >= capacity_) make_room();
    Connection connection;
    connection.fd = std::move(accepted);
    connection.deadline = now + kRequestTime;
    connections_.emplace(++next_id_, std::move(connection));
  }
}

bool Front::make_room() {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->second.phase == Phase::Handling) continue;
    connections_.erase(it);
    return true;
  }
  return false;
}

bool Front::on_readable(ConnectionId id, Connection& connection, const Dispatch& dispatch,
                        Clock::time_point now) {
  char buffer[16 * 1024];
  for (std::size_t turn = 0; turn < kReadsPerTurn; ++turn) {
    const ssize_t got = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (got == 0) return false;  // gone before its request was whole: nobody to answer
    const auto progress =
        connection.reader.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    if (connection.reader.take_continue()) {
      // Small enough for any socket buffer; a client that cannot take it times out.
      (void)!::send(connection.fd.get(), kContinue.data(), kContinue.size(), kSendFlags);
    }
    if (progress == RequestReader::Progress::Refused) {
      start_writing(connection, refusal_reply(connection.reader.refusal()), now);
      return true;
    }
    if (progress == RequestReader::Progress::Complete) {
      connection.phase = Phase::Handling;
      ++handling_;
      dispatch(id, std::move(connection.reader.request()));
      return true;
    }
  }
  return true;
}

void Front::start_writing(Connection& connection, const Reply& reply, Clock::time_point now) {
  if (connection.phase == Phase::Handling) --handling_;
  connection.phase = Phase::Writing;
  connection.out = reply_text(reply);
  connection.sent = 0;
  connection.deadline = now + kAnswerTime;
  connection.reader = RequestReader();  // what it held is no longer needed
}

bool Front::on_writable(Connection& connection, Clock::time_point now) {
  while (connection.sent < connection.out.size()) {
    const ssize_t sent = ::send(connection.fd.get(), connection.out.data() + connection.sent,
                                connection.out.size() - connection.sent, kSendFlags);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    connection.sent += static_cast<std::size_t>(sent);
  }
  ::shutdown(connection.fd.get(), SHUT_WR);
  connection.phase = Phase::Lingering;
  connection.deadline = now + kLingerTime;
  std::string().swap(connection.out);
  return !stop_begun_;  // a stopping server does not wait for the client to finish
}

bool Front::linger(Connection& connection) {
  char buffer[16 * 1024];
  for (std::size_t turn = 0; turn < kReadsPerTurn; ++turn) {
    const ssize_t got = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (got == 0) return false;
  }
  return true;
}

void Front::take_answers(Clock::time_point now) {
  std::vector<std::pair<ConnectionId, Reply>> answers;
  {
    std::lock_guard lock(answers_mutex_);
    answers.swap(answers_);
  }
  for (auto& [id, reply] : answers) {
    auto it = connections_.find(id);
    if (it != connections_.end() && it->second.phase == Phase::Handling) {
      start_writing(it->second, reply, now);
    }
  }
}

void Front::expire(Clock::time_point now) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    Connection& connection = it->second;
    if (connection.phase == Phase::Handling || now < connection.deadline) {
      ++it;
    } else if (connection.phase == Phase::Reading) {
      start_writing(connection, refusal_reply({408, "the request did not arrive in time"}), now);
      ++it;
    } else {
      it = connections_.erase(it);
    }
  }
}

void Front::begin_stop(Clock::time_point now) {
  stop_begun_ = true;
  stop_deadline_ = now + kStopGrace;
  listener_.reset();
  for (auto it = connections_.begin(); it != connections_.end();) {
    const Phase phase = it->second.phase;
    it = phase == Phase::Reading || phase == Phase::Lingering ? connections_.erase(it)
                                                              : std::next(it);
  }
}

bool Front::stop_done(Clock::time_point now) const {
  if (now >= stop_deadline_) return true;
  return std::none_of(connections_.begin(), connections_.end(), [](const auto& entry) {
    return entry.second.phase == Phase::Handling || entry.second.phase == Phase::Writing;
  });
}

int Front::poll_timeout(Clock::time_point now) const {
  Clock::time_point wake = now + std::chrono::seconds(1);
  for (const auto& [id, connection] : connections_) {
    if (connection.phase != Phase::Handling) wake = std::min(wake, connection.deadline);
  }
  if (stop_begun_) wake = std::min(wake, stop_deadline_);
  if (accept_paused_until_ > now) wake = std::min(wake, accept_paused_until_);
  if (wake <= now) return 0;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
  return static_cast<int>(wait.count());
}

}  // namespace ombrel::devserver
