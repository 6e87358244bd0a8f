#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace ombrel::test {
namespace {

std::string name_of(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::vector<char*> c_strings(const std::vector<std::string>& items) {
  std::vector<char*> out;
  for (const auto& s : items) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// The child keeps only its standard streams. A descriptor of the test program that is not
// close-on-exec (a fake server's connection, say) would otherwise live on in every child
// started while it is open, and the peer's close or reset would not reach the child it was
// meant for.
void keep_only_standard_streams(posix_spawn_file_actions_t& actions, short& flags) {
#if defined(__APPLE__)
  (void)actions;
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  (void)flags;
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#else
  (void)actions;
  (void)flags;
#endif
}

// A terminal without echo: the master for the test to type on, the slave for the child.
void open_terminal(int* master, int* slave) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0)
    throw std::runtime_error("no terminal");
  *slave = open(ptsname(*master), O_RDWR | O_NOCTTY);
  if (*slave < 0) throw std::runtime_error("no terminal");
  termios modes{};
  tcgetattr(*slave, &modes);
  modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(*slave, TCSANOW, &modes);
  fcntl(*master, F_SETFD, FD_CLOEXEC);
}

}  // namespace

Environment Environment::current() {
  Environment env;
  for (char** e = environ; *e != nullptr; ++e) env.entries_.emplace_back(*e);
  return env;
}

Environment& Environment::set(const std::string& name, const std::string& value) {
  for (auto& entry : entries_) {
    if (name_of(entry) == name) {
      entry = name + "=" + value;
      return *this;
    }
  }
  entries_.push_back(name + "=" + value);
  return *this;
}

Environment& Environment::unset(const std::string& name) {
  std::erase_if(entries_, [&](const std::string& e) { return name_of(e) == name; });
  return *this;
}

std::optional<std::string> Environment::get(const std::string& name) const {
  for (const auto& entry : entries_) {
    if (name_of(entry) == name) return entry.substr(name.size() + 1);
  }
  return std::nullopt;
}

ChildProcess::ChildProcess(ProcessOptions options) : options_(std::move(options)) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (options_.stdin_terminal) {
    options_.hold_stdin = true;
    close(in[0]);
    close(in[1]);
    open_terminal(&in[1], &in[0]);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], out[1], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  for (int fd : options_.closed_at_start) posix_spawn_file_actions_addclose(&actions, fd);

  // Children start with default dispositions and an empty mask, whatever the test runner set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  keep_only_standard_streams(actions, flags);
  posix_spawnattr_setflags(&attr, flags);

  auto argv = c_strings(options_.argv);
  auto envp = c_strings(options_.env.entries());
  std::string old_cwd;
  if (!options_.cwd.empty()) {
    char buf[4096];
    if (getcwd(buf, sizeof buf) != nullptr) old_cwd = buf;
    if (chdir(options_.cwd.c_str()) != 0) throw std::runtime_error("chdir failed");
  }
  started_ = std::chrono::steady_clock::now();
  int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), envp.data());
  if (!old_cwd.empty() && chdir(old_cwd.c_str()) != 0)
    throw std::runtime_error("chdir back failed");
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error(std::string("posix_spawn failed: ") + std::strerror(rc));
  }
  out_fd_ = out[0];
  err_fd_ = err[0];
  if (options_.close_stdout_early) {
    close(out_fd_);
    out_fd_ = -1;
  }
  // stdin belongs to the test's thread with hold_stdin (feed, end_input), else to the pump.
  const int pump_in = options_.hold_stdin ? -1 : in[1];
  if (options_.hold_stdin) in_fd_ = in[1];
  pumper_ = std::thread([this, pump_in] { pump(pump_in); });
}

ChildProcess::~ChildProcess() {
  if (!waited_) {
    send_signal(SIGKILL);
    wait();
  }
  if (in_fd_ >= 0) close(in_fd_);
}

void ChildProcess::send_signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

void ChildProcess::feed(std::string_view bytes) {
  while (in_fd_ >= 0 && !bytes.empty()) {
    ssize_t n = write(in_fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the child stopped reading: what it does then is the test's subject
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ChildProcess::end_input() {
  if (in_fd_ < 0) return;
  if (options_.stdin_terminal) {
    // The end of input as a person gives it; the terminal itself stays open.
    termios modes{};
    tcgetattr(in_fd_, &modes);
    feed(std::string(1, static_cast<char>(modes.c_cc[VEOF])));
    return;
  }
  close(in_fd_);
  in_fd_ = -1;
}

bool ChildProcess::wait_for_stderr(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  err_changed_.wait_for(lock, timeout,
                        [&] { return !pumping_ || result_.err.find(text) != std::string::npos; });
  return result_.err.find(text) != std::string::npos;
}

void ChildProcess::pump(int in_fd) {
  // Feed stdin (if it is ours) and drain stdout/stderr together so that neither side can
  // block the other.
  std::size_t written = 0;
  const std::string& input = options_.stdin_data;
  if (in_fd >= 0 && input.empty()) {
    close(in_fd);
    in_fd = -1;
  } else if (in_fd >= 0) {
    set_nonblocking(in_fd);
  }
  char buf[65536];
  const auto deadline = started_ + options_.timeout;
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    pollfd fds[3];
    int n = 0;
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result_.timed_out = true;
      kill(pid_, SIGKILL);
      break;
    }
    int rc = poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 100)));
    if (rc < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        ssize_t w = write(in_fd, input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      ssize_t r = read(fds[i].fd, buf, sizeof buf);
      if (r > 0 && fds[i].fd == out_fd_) {
        result_.out.append(buf, static_cast<std::size_t>(r));
      } else if (r > 0) {
        std::lock_guard lock(mutex_);
        result_.err.append(buf, static_cast<std::size_t>(r));
        err_changed_.notify_all();
      } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
        int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
        close(fd);
        fd = -1;
      }
    }
  }
  result_.streams_closed_at = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mutex_);
    pumping_ = false;
    err_changed_.notify_all();
  }
  for (int* fd : {&in_fd, &out_fd_, &err_fd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

ProcessResult ChildProcess::wait() {
  if (waited_) return result_;
  waited_ = true;
  pumper_.join();
  // The streams are closed; the child may still run (it closed them itself, or timed out).
  int status = 0;
  rusage usage{};
  const auto deadline = started_ + options_.timeout;
  for (;;) {
    pid_t r = wait4(pid_, &status, WNOHANG, &usage);
    if (r == pid_) break;
    if (r < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result_.timed_out = true;
      kill(pid_, SIGKILL);
      wait4(pid_, &status, 0, &usage);
      break;
    }
    usleep(2000);
  }
  result_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started_);
  if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.term_signal = WTERMSIG(status);
#ifdef __APPLE__
  result_.peak_rss_kib = usage.ru_maxrss / 1024;  // bytes there, KiB on Linux
#else
  result_.peak_rss_kib = usage.ru_maxrss;
#endif
  return result_;
}

ProcessResult run_process(ProcessOptions options) {
  ChildProcess child(std::move(options));
  return child.wait();
}

}  // namespace ombrel::test
