// The programs the bridge needs beside the agents: the hook the agents run, and tmux, which
// `ombrel run` starts the agents in.
#pragma once

#include <string>
#include <string_view>

#include "common/result.hpp"
#include "doctor_check.hpp"
#include "process.hpp"

namespace ombrel::doctor {

// The hook as setup resolved it (or why it could not), asked for its version without a
// shell and within the helper time limit. A hook of another release than this program is
// a failure: the two are installed together.
Check check_hook(const Result<std::string>& resolved, launcher::ProcessRunner& runner,
                 std::string_view own_version);

Check check_tmux(bool available);
// Informational: `ombrel run` moves a tmux client instead of attaching one of its own.
Check check_inside_tmux(bool inside);

}  // namespace ombrel::doctor
