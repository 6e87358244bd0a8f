// Child processes of the launcher, started with posix_spawnp from an argv vector (never a
// shell), with default signal dispositions and an empty signal mask whatever the launcher
// itself inherited. Two modes: captured (ps, osascript, tmux probes, curl.exe) behind the
// ProcessRunner seam so tests can script the answers, and console (tmux new-session).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace ombrel::launcher {

// How a child ended, decoded once from the wait status.
struct WaitStatus {
  bool signaled = false;  // ended by a signal rather than by exiting
  int code = 0;           // the exit code, or the signal number when signaled
  bool success() const { return !signaled && code == 0; }
};

// Helpers (ps, osascript, tmux probes) answer at once; one that hangs must not hold the
// launcher, so it is killed once its time is up.
inline constexpr std::chrono::milliseconds kHelperTimeLimit{2000};

struct Command {
  std::vector<std::string> argv;     // argv[0] is looked up on PATH unless it holds a "/"
  std::optional<std::string> input;  // written to stdin, which is then closed; /dev/null if absent
  std::chrono::milliseconds limit = kHelperTimeLimit;  // then the child is killed (SIGKILL)
};

struct Captured {
  WaitStatus status;
  std::string out;
  std::string err;
  std::string input_error;  // why writing stdin failed; empty when it all went in
  bool timed_out = false;   // killed at its time limit; status then says SIGKILL
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Runs the command to completion or to its time limit, collecting stdout and stderr.
  // The error is the system's description when it cannot be started or waited for.
  virtual Result<Captured> run(const Command& command) = 0;
};

class PosixProcessRunner final : public ProcessRunner {
 public:
  Result<Captured> run(const Command& command) override;
};

// Runs argv on the launcher's own standard streams (the user works inside it) and waits.
// The error is the system's description when it cannot be started.
Result<WaitStatus> run_console(const std::vector<std::string>& argv);

}  // namespace ombrel::launcher
