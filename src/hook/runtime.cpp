#include "runtime.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "http.hpp"
#include "text.hpp"

namespace ombrel::hook {

std::atomic<bool> SIGNALLED{false};

namespace {

// "--tool-name" gives "toolName": each "-" is dropped and the character after it raised.
std::string option_key(std::string_view name) {
  std::string key;
  bool raise = false;
  for (std::size_t i = 0; i < name.size();) {
    utf8::Decoded d = utf8::decode(name, i);
    if (d.cp == '-') {
      raise = true;
    } else if (raise) {
      if (d.cp == utf8::kReplacement && d.len == 1) {
        key.append(name.substr(i, 1));  // an invalid byte has no case: keep it
      } else {
        for (char32_t u : text::to_upper(d.cp)) utf8::append(key, u);
      }
      raise = false;
    } else {
      key.append(name.substr(i, d.len));
    }
    i += d.len;
  }
  return key;
}

bool is_option(std::string_view arg) {
  return arg.size() >= 2 && arg.substr(0, 2) == "--";
}

void make_directories(const std::string& dir) {
  if (dir.empty()) return;
  std::string partial;
  for (std::size_t pos = 0; pos != std::string::npos;) {
    std::size_t next = dir.find('/', pos + 1);
    partial = dir.substr(0, next);
    if (!partial.empty() && partial != "/") mkdir(partial.c_str(), 0777);
    pos = next;
  }
}

std::string parent_dir(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash == 0 ? 1 : slash);
}

Status write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno));
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::success();
}

}  // namespace

Options parse_args(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!is_option(arg)) continue;
    std::string key = option_key(std::string_view(arg).substr(2));
    if (i + 1 < args.size() && !is_option(args[i + 1])) {
      options[key] = args[++i];
    } else {
      options[key] = "true";
    }
  }
  return options;
}

std::optional<std::string> env_var(const char* name, bool require_utf8) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  if (require_utf8 && !utf8::is_valid(text)) return std::nullopt;
  return text;
}

std::string home_dir() {
  if (auto home = env_var("HOME", false)) return *home;
  if (auto profile = env_var("USERPROFILE", false)) return *profile;
  return "/tmp";
}

std::string join_path(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (a.back() == '/') return std::string(a) + std::string(b);
  return std::string(a) + "/" + std::string(b);
}

std::string log_timestamp(std::chrono::system_clock::time_point now) {
  auto since = now.time_since_epoch();
  if (since.count() < 0) return "0.000Z";
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - secs).count();
  char ms[4] = {char('0' + millis / 100), char('0' + millis / 10 % 10), char('0' + millis % 10),
                '\0'};
  return std::to_string(secs.count()) + "." + ms + "Z";
}

namespace {

// The log stays open for the rest of the process once opened: an invocation writes several
// entries, and opening the file for each one cost more than all the hook's own work. Only
// the main thread logs, so no lock is needed.
struct OpenLog {
  std::string path;
  int fd = -1;
};

int log_descriptor(const std::string& path) {
  static OpenLog log;
  if (log.fd >= 0 && log.path == path) return log.fd;
  if (log.fd >= 0) close(log.fd);
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  log.path = path;
  log.fd = open(path.c_str(), flags, 0666);
  if (log.fd < 0 && errno == ENOENT) {
    make_directories(parent_dir(path));
    log.fd = open(path.c_str(), flags, 0666);
  }
  return log.fd;
}

}  // namespace

void debug_log(const std::string& path, std::string_view message) {
  if (path.empty()) return;
  std::string entry = log_timestamp(std::chrono::system_clock::now());
  entry.reserve(entry.size() + message.size() + 2);
  entry.push_back(' ');
  entry.append(message);
  entry.push_back('\n');
  const int fd = log_descriptor(path);
  if (fd < 0) return;
  // One write per entry: with O_APPEND, hooks logging at the same moment never mix
  // inside an entry.
  (void)write_all(fd, entry);
}

std::string compact_json(const Json& value) {
  return to_json_text(value);
}

Status write_stdout_text(std::string_view text) {
  return write_all(STDOUT_FILENO, text);
}

Status print_json(const Json& value) {
  return write_stdout_text(compact_json(value));
}

void write_stderr(std::string_view text) {
  (void)write_all(STDERR_FILENO, text);
}

void handle_signal(int) {
  SIGNALLED.store(true, std::memory_order_release);
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = handle_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

namespace {

// The one-message channel between the permission worker and the main thread. The worker's
// Sender marks the channel closed when it goes away, sent or not.
struct ResultChannel {
  std::mutex mutex;
  std::optional<Result<Json>> message;
  bool sender_gone = false;
};

class Sender {
 public:
  explicit Sender(std::shared_ptr<ResultChannel> channel) : channel_(std::move(channel)) {}
  ~Sender() {
    std::lock_guard lock(channel_->mutex);
    channel_->sender_gone = true;
  }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  void send(Result<Json> result) {
    std::lock_guard lock(channel_->mutex);
    channel_->message.emplace(std::move(result));
  }

 private:
  std::shared_ptr<ResultChannel> channel_;
};

// Starts the worker with the termination signals blocked, so that they always reach the
// main thread, which is the one that notices them.
void start_worker(std::shared_ptr<ResultChannel> channel, std::string url, Json body,
                  std::chrono::milliseconds timeout) {
  sigset_t block, previous;
  sigemptyset(&block);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&block, sig);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  try {
    std::thread worker(
        [channel = std::move(channel), url = std::move(url), body = std::move(body), timeout] {
          Sender sender(channel);
          sender.send(post_json(url, body, timeout));
        });
    worker.detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    write_stderr("[ombrel-hook] Error: failed to spawn thread\n");
    _exit(1);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

[[noreturn]] void cancel_and_exit(const std::optional<std::string>& cancel_session,
                                  const std::string& server, const std::string& source,
                                  const std::string& log_path) {
  if (cancel_session) {
    debug_log(log_path,
              "[" + source + "] terminated - cancelling approvals for session " + *cancel_session);
    (void)post_json(server + "/permission/cancel", Json{{"session_id", *cancel_session}},
                    std::chrono::milliseconds(500));
  }
  // The worker may still be blocked in its request: leave without running destructors
  // under its feet. Nothing is buffered (output goes straight to the descriptors).
  _exit(0);
}

}  // namespace

Result<Json> post_json_interruptible(const std::string& url, const Json& body,
                                     std::chrono::milliseconds timeout,
                                     const std::optional<std::string>& cancel_session,
                                     const std::string& server, const std::string& source,
                                     const std::string& log_path) {
  SIGNALLED.store(false, std::memory_order_release);
  auto channel = std::make_shared<ResultChannel>();
  start_worker(channel, url, body, timeout);
  for (;;) {
    if (SIGNALLED.load(std::memory_order_acquire))
      cancel_and_exit(cancel_session, server, source, log_path);
    {
      std::lock_guard lock(channel->mutex);
      if (channel->message) return std::move(*channel->message);
      if (channel->sender_gone) return fail("permission request worker ended");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace ombrel::hook
