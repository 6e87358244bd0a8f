// How the tool's command and environment reach the new tmux pane without ever being an
// argument of any process: command lines are readable by every local user (ps, /proc), a
// tmux server keeps its first client's for its whole life, and tmux refuses a command much
// over 16 KiB. The launcher writes them to a file in a fresh private directory; tmux starts
// our own exec step ("ombrel-run --exec-step DIR") in the pane, which reads the file,
// removes the directory and execs the tool directly, with no shell in between.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fd.hpp"
#include "common/result.hpp"

namespace ombrel::launcher {

// The hidden first argument that makes ombrel-run the exec step.
inline constexpr std::string_view kExecStepWord = "--exec-step";

struct Handoff {
  std::vector<std::string> argv;  // the tool command and its arguments, never empty
  std::vector<std::string> env;   // NAME=VALUE entries the tool gets on top of the pane's
};
std::string encode_handoff(const Handoff& handoff);
Result<Handoff> decode_handoff(std::string_view bytes);

// The environment the tool starts with: the handed entries over the pane's, except the ones
// tmux sets for every pane (TMUX, TMUX_PANE, TERM, and TERM_PROGRAM with its version when
// tmux names itself there), which stay the pane's. That is what tmux itself made of the
// entries when they were passed as new-session -e: its pane variables win over a session's.
std::vector<std::string> tool_environment(const std::vector<std::string>& pane,
                                          const std::vector<std::string>& handed);

// The launcher's side: a fresh directory (0700, from mkdtemp) holding "env" (0600) for the
// exec step and "error" (0600), which the launcher keeps open: the exec step unlinks both
// and the directory before it execs, and if the tool cannot start it writes why into
// "error", where the launcher still reads it through its descriptor.
class HandoffDir {
 public:
  static Result<HandoffDir> create(const std::string& parent);
  HandoffDir(HandoffDir&&) = default;
  HandoffDir& operator=(HandoffDir&&) = delete;
  ~HandoffDir();  // removes what is left, unless released

  const std::string& path() const { return path_; }
  Status write(std::string_view bytes) const;
  // Why the exec step could not start the tool; nothing when it did or has not run.
  std::optional<std::string> exec_error() const;
  // For a session that is still running: its exec step removes the directory itself.
  void release() { released_ = true; }

 private:
  HandoffDir(std::string path, Fd dir, Fd error)
      : path_(std::move(path)), dir_(std::move(dir)), error_(std::move(error)) {}
  std::string path_;
  Fd dir_, error_;
  bool released_ = false;
};

// Where the directory is made: TMPDIR when it is an absolute path, else /tmp.
std::string handoff_parent();

// This program's absolute path, for tmux to start as the exec step.
Result<std::string> own_executable(const char* argv0);

// The exec step: reads and removes the directory, then becomes the tool. Returns only when
// that failed, after telling why on stderr and to the launcher; the result is the exit status.
int run_exec_step(const std::string& dir);

}  // namespace ombrel::launcher
