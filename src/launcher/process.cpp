#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/fd.hpp"

extern char** environ;

namespace ombrel::launcher {
namespace {

std::string describe(int err) {
  return std::strerror(err);
}

// The spawn attributes every child gets: all signals back to their default action and
// nothing blocked, so a launcher started with SIGINT ignored does not pass that on.
class SpawnAttr {
 public:
  SpawnAttr() {
    posix_spawnattr_init(&attr_);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr_); }
  SpawnAttr(const SpawnAttr&) = delete;
  SpawnAttr& operator=(const SpawnAttr&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

Result<pid_t> spawn(const std::vector<std::string>& argv,
                    const posix_spawn_file_actions_t* actions) {
  if (argv.empty()) return fail("empty command");
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  SpawnAttr attr;
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], actions, attr.get(), args.data(), environ);
  if (rc != 0) return fail(describe(rc));
  return pid;
}

Result<WaitStatus> wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail(describe(errno));
  }
  if (WIFSIGNALED(status)) return WaitStatus{true, WTERMSIG(status)};
  return WaitStatus{false, WEXITSTATUS(status)};
}

struct Pipe {
  Fd read, write;
};

Result<Pipe> make_pipe() {
  int fds[2];
  if (pipe(fds) != 0) return fail(describe(errno));
  Pipe p{Fd(fds[0]), Fd(fds[1])};
  // Only the dup2'ed copies may reach the child; these originals close on exec.
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return p;
}

// A child that exits without reading its input must make our write fail with EPIPE, not
// end the launcher with SIGPIPE. The signal is blocked for the write and a SIGPIPE it
// raised is consumed before the mask is restored.
ssize_t write_without_sigpipe(int fd, const char* data, std::size_t size) {
  sigset_t pipe_only, old, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE);
  ssize_t written = write(fd, data, size);
  const int saved = errno;
  if (written < 0 && saved == EPIPE && !was_pending) {
    sigpending(&pending);
    int sig = 0;
    if (sigismember(&pending, SIGPIPE)) sigwait(&pipe_only, &sig);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return written;
}

// Feeds stdin and drains stdout and stderr together so that no side can block the other,
// until all three are settled or the deadline passes (then the child is killed). Reading
// continues to the end of both streams. Stdin is settled only when all of it went in or a
// write failed: a child that exits without reading closes its output first, and only the
// next write can tell, so once the output is closed the write is retried on a short tick
// instead of trusting poll to report the reader gone (it does not on every system).
void pump(pid_t child, Fd& in, const std::string& input, Fd& out, Fd& err,
          std::chrono::steady_clock::time_point deadline, Captured& captured) {
  using namespace std::chrono;
  constexpr milliseconds kRetryTick{20};
  std::size_t written = 0;
  if (in.valid() && input.empty()) in.reset();
  if (in.valid()) fcntl(in.get(), F_SETFL, fcntl(in.get(), F_GETFL) | O_NONBLOCK);
  auto write_some = [&] {
    ssize_t w = write_without_sigpipe(in.get(), input.data() + written, input.size() - written);
    if (w < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (w < 0) captured.input_error = describe(errno);
    if (w > 0) written += static_cast<std::size_t>(w);
    if (w < 0 || written == input.size()) in.reset();
  };
  char buf[16384];
  while (in.valid() || out.valid() || err.valid()) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) {
      kill(child, SIGKILL);
      captured.timed_out = true;
      break;
    }
    pollfd fds[3];
    Fd* owners[3];
    nfds_t n = 0;
    for (Fd* fd : {&in, &out, &err}) {
      if (!fd->valid()) continue;
      owners[n] = fd;
      fds[n++] = {fd->get(), static_cast<short>(fd == &in ? POLLOUT : POLLIN), 0};
    }
    const bool only_input = !out.valid() && !err.valid();
    const int ready = poll(
        fds, n, static_cast<int>(only_input ? std::min(left, kRetryTick).count() : left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      if (captured.input_error.empty() && in.valid()) captured.input_error = describe(errno);
      kill(child, SIGKILL);
      break;
    }
    if (ready == 0) {
      if (only_input) write_some();
      continue;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      Fd& fd = *owners[i];
      if (&fd == &in) {
        write_some();
        continue;
      }
      ssize_t r = read(fd.get(), buf, sizeof buf);
      if (r > 0) {
        (&fd == &out ? captured.out : captured.err).append(buf, static_cast<std::size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        fd.reset();
      }
    }
  }
  // A child that was killed, or stopped on a full pipe after a failed poll, must not keep
  // us waiting for it to read or write.
  in.reset();
  out.reset();
  err.reset();
}

}  // namespace

Result<Captured> PosixProcessRunner::run(const Command& command) {
  auto out = make_pipe();
  if (!out) return fail(out.error());
  auto err = make_pipe();
  if (!err) return fail(err.error());
  Pipe in;
  FileActions actions;
  if (command.input) {
    auto p = make_pipe();
    if (!p) return fail(p.error());
    in = std::move(p.value());
    posix_spawn_file_actions_adddup2(actions.get(), in.read.get(), 0);
  } else {
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(actions.get(), out.value().write.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), err.value().write.get(), 2);

  auto pid = spawn(command.argv, actions.get());
  // The child holds its own copies now; ours must go so that end of file can arrive.
  in.read.reset();
  out.value().write.reset();
  err.value().write.reset();
  if (!pid) return fail(pid.error());

  Captured captured;
  pump(pid.value(), in.write, command.input.value_or(""), out.value().read, err.value().read,
       std::chrono::steady_clock::now() + command.limit, captured);
  auto status = wait_for(pid.value());
  if (!status) return fail(status.error());
  captured.status = status.value();
  return captured;
}

Result<WaitStatus> run_console(const std::vector<std::string>& argv) {
  auto pid = spawn(argv, nullptr);
  if (!pid) return fail(pid.error());
  return wait_for(pid.value());
}

}  // namespace ombrel::launcher
