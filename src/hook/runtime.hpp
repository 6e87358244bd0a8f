// Process-level services of the hook: command line, environment, debug log, compact JSON,
// the termination-signal flag, and the interruptible wait of the permission flow.
// Nothing here fails loudly: the log swallows its own errors. What reaches stdout and
// stderr goes through the Platform.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "common/version.hpp"
#include "json_text.hpp"
#include "platform.hpp"

namespace ombrel::hook {

inline constexpr std::string_view kHookVersion = kVersion;
inline constexpr std::string_view kDefaultServer = "http://127.0.0.1:7337";

using Options = std::map<std::string, std::string>;

// "--name value" and "--switch" options; names go from kebab case to lower camel case.
// Arguments that are not options are ignored; a repeated option keeps its last value.
Options parse_args(const std::vector<std::string>& args);  // args[0] is the program name

// An environment variable; nothing when unset, or (with utf8) when not valid UTF-8.
std::optional<std::string> env_var(const char* name, bool require_utf8 = true);
// HOME (even empty), else USERPROFILE, else "/tmp".
std::string home_dir();
// a joined with b by one "/"; an empty a gives b.
std::string join_path(std::string_view a, std::string_view b);

// "SECONDS.mmmZ" of the wall clock; "0.000Z" before the epoch.
std::string log_timestamp(std::chrono::system_clock::time_point now);
// Appends "TIMESTAMP message\n" in one write to the log (opened once, by open_log_file,
// which creates what is missing and refuses what is not safe to write). Every failure is
// ignored.
void debug_log(const std::string& path, std::string_view message);

std::string compact_json(const Json& value);
// Writes every byte to the descriptor, resuming after interruptions; the failure's text.
Status write_all(int fd, std::string_view data);

// Set by the handler of SIGTERM, SIGINT and SIGHUP; read only by the permission wait.
extern std::atomic<bool> SIGNALLED;
void handle_signal(int signal);
// Installs handle_signal for SIGTERM, SIGINT, SIGHUP (restarting system calls) and ignores
// SIGPIPE, so that a peer closing its end early cannot kill the hook.
void install_signal_handlers();

// For as long as it lives, SIGTERM, SIGINT and SIGHUP end the hook as they end any program
// (a person typing the payload presses Ctrl-C); then they only set SIGNALLED again.
class TerminationSignalsEndTheHook {
 public:
  TerminationSignalsEndTheHook();
  ~TerminationSignalsEndTheHook();
  TerminationSignalsEndTheHook(const TerminationSignalsEndTheHook&) = delete;
  TerminationSignalsEndTheHook& operator=(const TerminationSignalsEndTheHook&) = delete;
};

// Posts through the platform on a worker thread and waits, checking every 10 ms for a
// termination signal. On a signal it withdraws the session's pending approvals (POST
// /permission/cancel, 500 ms limit, only when the target names a session) and ends the
// process with status 0. Otherwise it returns the worker's result, or "permission request
// worker ended".
Result<Json> post_json_interruptible(Platform& platform, const std::string& url, const Json& body,
                                     std::chrono::milliseconds timeout, const CancelTarget& cancel);

}  // namespace ombrel::hook
