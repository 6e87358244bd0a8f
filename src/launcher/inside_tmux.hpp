// Started from a tmux pane (TMUX set), the launcher cannot attach a client of its own: tmux
// refuses to nest. Instead it creates the session detached and moves the user's own client
// to it, then waits until the user leaves it (switches away, detaches, or the tool ends).
// tmux tells no one when a client changes session unless hooks are installed in the
// user's server, which would outlive a launcher that is killed; so the launcher asks tmux
// twice a second, each question bounded like every helper.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "process.hpp"

namespace ombrel::launcher {

inline constexpr std::chrono::milliseconds kLeavePollInterval{500};

struct TmuxClient {
  std::string name;    // as tmux names it, e.g. /dev/ttys003
  std::string origin;  // the id of the session it shows now, e.g. $3
};

// TMUX is set and not empty: the launcher runs inside a tmux pane.
bool inside_tmux();

// The client showing the launcher's pane. Fails when tmux cannot be asked (a stale TMUX) or
// when no client shows that pane (a detached session, a pane no one looks at): switching
// some other terminal would surprise its user.
Result<TmuxClient> current_tmux_client(ProcessRunner& runner);

// Creates the session detached, keeps its client in tmux when it ends (switched instead of
// detached, the tmux default), and switches the client to it.
Status start_detached_session(std::string_view session, std::string_view cwd,
                              const std::vector<std::string>& pane_command, ProcessRunner& runner);
Status switch_client(const TmuxClient& client, const std::string& target, ProcessRunner& runner);

// Returns once the client no longer shows the session, or tmux cannot say.
void wait_until_left(const TmuxClient& client, std::string_view session, ProcessRunner& runner);

}  // namespace ombrel::launcher
