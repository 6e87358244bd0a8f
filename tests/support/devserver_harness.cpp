#include "devserver_harness.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

#ifndef MSG_NOSIGNAL  // macOS: SO_NOSIGPIPE on the socket instead
#define MSG_NOSIGNAL 0
#endif

namespace ombrel::test {

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

std::size_t occurrences(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

// Close-on-exec, so that no other child of the test program holds the server's pipes.
void make_pipe(int fds[2]) {
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

}  // namespace

Connection::Connection(std::uint16_t port, const std::string& bytes) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
#ifdef SO_NOSIGPIPE
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  send(bytes);
}

void Connection::send(const std::string& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the server may refuse before the end; its answer tells
    sent += static_cast<std::size_t>(n);
  }
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

void Connection::end_writing() {
  ::shutdown(fd_, SHUT_WR);
}

bool Connection::answered() const {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

HttpReply Connection::reply() {
  HttpReply reply;
  std::string raw;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char chunk[8192];
    ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      reply.closed = true;
      break;
    }
    raw.append(chunk, static_cast<std::size_t>(got));
  }
  const std::size_t head_end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) == 0 && head_end != std::string::npos) {
    reply.status = std::atoi(raw.c_str() + 9);
    reply.head = raw.substr(0, head_end);
    reply.body = raw.substr(head_end + 4);
  }
  return reply;
}

std::string request_text(const std::string& method, const std::string& path,
                         const std::string& body) {
  return method + " " + path +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
         "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::unique_ptr<DevServer> DevServer::start(const std::string& program,
                                            const std::vector<std::string>& args,
                                            std::chrono::seconds patience) {
  std::vector<std::string> argv = {program, "--listen", "127.0.0.1:0"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> c_argv;
  for (std::string& arg : argv) c_argv.push_back(arg.data());
  c_argv.push_back(nullptr);

  int in[2], out[2];
  make_pipe(in);
  make_pipe(out);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::unique_ptr<DevServer> server(new DevServer());
  server->patience_ = patience;
  if (posix_spawn(&server->pid_, c_argv[0], &actions, nullptr, c_argv.data(), environ) != 0) {
    server->pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  server->in_fd_ = in[1];
  server->out_fd_ = out[0];
  server->pumper_ = std::thread([s = server.get()] { s->pump(); });

  const std::string announcement = "ombrel-devserver listening on http://127.0.0.1:";
  if (!server->wait_for("\n") || server->output().rfind(announcement, 0) != 0) {
    ADD_FAILURE() << "no address line; stdout: " << server->output();
    return nullptr;
  }
  server->port_ =
      static_cast<std::uint16_t>(std::stoi(server->output().substr(announcement.size())));
  return server;
}

DevServer::~DevServer() {
  if (pid_ > 0) stop(SIGKILL);
  if (pumper_.joinable()) pumper_.join();
  end_input();
  ::close(out_fd_);
}

void DevServer::pump() {
  char chunk[4096];
  for (;;) {
    ssize_t got = ::read(out_fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (got <= 0) ended_ = true;
    if (got > 0) out_.append(chunk, static_cast<std::size_t>(got));
    changed_.notify_all();
    if (got <= 0) return;
  }
}

bool DevServer::wait_for(const std::string& text, std::size_t count) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, patience_, [&] { return occurrences(out_, text) >= count || ended_; });
  return occurrences(out_, text) >= count;
}

std::string DevServer::output() const {
  std::lock_guard lock(mutex_);
  return out_;
}

void DevServer::type(const std::string& text) {
  ASSERT_EQ(::write(in_fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void DevServer::end_input() {
  if (in_fd_ >= 0) ::close(in_fd_);
  in_fd_ = -1;
}

ServerExit DevServer::stop(int signal) {
  ServerExit result;
  if (pid_ <= 0) return result;
  ::kill(pid_, signal);
  {
    // Its stdout ends when the server exits: waiting for that needs no polling.
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, patience_, [&] { return ended_; })) {
      ADD_FAILURE() << "the server did not stop";
      ::kill(pid_, SIGKILL);
    }
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = output();
  return result;
}

}  // namespace ombrel::test
