#include "runtime.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "log_file.hpp"
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
// entries, and opening the file for each one cost more than all the hook's own work. A log
// that cannot be opened (or is refused) is not tried again for the same path. Only the
// main thread logs, so no lock is needed.
int log_descriptor(const std::string& path) {
  static std::optional<std::string> opened_path;
  static Fd log;
  if (opened_path == path) return log.get();
  opened_path = path;
  auto opened = open_log_file(path);
  log = opened ? opened.take() : Fd();
  return log.get();
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

void handle_signal(int) {
  SIGNALLED.store(true, std::memory_order_release);
}

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

void set_termination_handler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kTerminationSignals) sigaction(sig, &action, nullptr);
}

}  // namespace

void install_signal_handlers() {
  set_termination_handler(handle_signal);
  signal(SIGPIPE, SIG_IGN);
}

TerminationSignalsEndTheHook::TerminationSignalsEndTheHook() {
  set_termination_handler(SIG_DFL);
}

TerminationSignalsEndTheHook::~TerminationSignalsEndTheHook() {
  set_termination_handler(handle_signal);
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
void start_worker(Platform& platform, std::shared_ptr<ResultChannel> channel, std::string url,
                  Json body, std::chrono::milliseconds timeout) {
  sigset_t block, previous;
  sigemptyset(&block);
  for (int sig : kTerminationSignals) sigaddset(&block, sig);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  try {
    std::thread worker([&platform, channel = std::move(channel), url = std::move(url),
                        body = std::move(body), timeout] {
      Sender sender(channel);
      sender.send(platform.post(url, body, timeout));
    });
    worker.detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    platform.write_stderr("[ombrel-hook] Error: failed to spawn thread\n");
    _exit(1);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

[[noreturn]] void cancel_and_exit(Platform& platform, const CancelTarget& cancel) {
  if (cancel.session) {
    debug_log(
        cancel.log_path,
        "[" + cancel.source + "] terminated - cancelling approvals for session " + *cancel.session);
    (void)platform.post(cancel.server + "/permission/cancel", Json{{"session_id", *cancel.session}},
                        std::chrono::milliseconds(500));
  }
  // The worker may still be blocked in its request: leave without running destructors
  // under its feet. Nothing is buffered (the platform writes straight to the descriptors).
  _exit(0);
}

}  // namespace

Result<Json> post_json_interruptible(Platform& platform, const std::string& url, const Json& body,
                                     std::chrono::milliseconds timeout,
                                     const CancelTarget& cancel) {
  SIGNALLED.store(false, std::memory_order_release);
  auto channel = std::make_shared<ResultChannel>();
  start_worker(platform, channel, url, body, timeout);
  for (;;) {
    if (SIGNALLED.load(std::memory_order_acquire)) cancel_and_exit(platform, cancel);
    {
      std::lock_guard lock(channel->mutex);
      if (channel->message) return std::move(*channel->message);
      if (channel->sender_gone) return fail("permission request worker ended");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace ombrel::hook
