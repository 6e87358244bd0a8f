// The steps of one launch that the driver wires together: finding tmux and the tool,
// naming the session, building the tmux command line, and the hint printed afterwards.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "process.hpp"

namespace ombrel::launcher {

enum class ExitCode : int {
  kSuccess = 0,
  kTmuxFailed = 1,  // tmux missing or not startable
  kUsage = 2,
  kToolNotFound = 127,
};

// Where tmux is usually installed; the first that exists is enough.
inline constexpr std::array<const char*, 4> kTmuxPaths = {
    "/opt/homebrew/bin/tmux", "/usr/local/bin/tmux", "/usr/bin/tmux", "/opt/local/bin/tmux"};

// True when any of the paths exists (links followed), else when "tmux -V" succeeds.
bool tmux_available(std::span<const char* const> fixed_paths, ProcessRunner& runner);

// A regular file, links followed, with at least one execute bit.
bool is_executable_file(const std::string& path);
// The first "dir/word" along the ":"-separated list that is an executable file and that
// skip (when given) does not reject; nothing when there is none.
std::optional<std::string> find_on_path(std::string_view word, std::string_view path_list,
                                        bool (*skip)(std::string_view) = nullptr);
// What to hand to tmux for the tool word: the word itself when found on PATH or given as
// an executable path, the full path of a Linux-side codex under WSL; nothing if not found.
std::optional<std::string> resolve_tool_command(const std::string& tool);

// Eight lower-case hex digits from the operating system's random source.
std::string short_id();

struct WorkingDir {
  std::string raw;   // the bytes, handed to tmux so that it starts in the right directory
  std::string text;  // invalid UTF-8 replaced, for the desktop
};
// The current directory, or "." when it cannot be determined.
WorkingDir current_working_dir();

// The launcher's environment as the tool gets it: every assignment except TMUX and TMUX_PANE,
// which must be the new session's, not the ones the launcher runs under.
std::vector<std::string> session_environment(const std::vector<std::string>& environment);

// "new-session -A -s NAME -c DIR" and the pane command; detached: "-d" instead of "-A".
std::vector<std::string> tmux_session_command(std::string_view session, std::string_view cwd,
                                              const std::vector<std::string>& pane_command,
                                              bool detached);

// The string value of the first "ai_session_id" member found by text search, escapes not
// interpreted; nothing when missing, not a string, or empty.
std::optional<std::string> extract_ai_session_id(std::string_view body);
// An id the user may be told to paste: at most 200 characters from [A-Za-z0-9._:@+-], so that
// no escape sequence, line break or shell syntax from the desktop reaches the terminal.
bool is_safe_session_id(std::string_view id);
// The lines printed after a tmux session that is gone, for the agent's session id.
std::string resume_hint_text(std::string_view tool, std::string_view id);
// The lines printed when the session is still running in the background; from inside tmux
// the way back is switch-client, not attach.
std::string detached_hint_text(std::string_view session, bool inside_tmux);
// "tmux has-session" for exactly this name.
bool session_alive(std::string_view session, ProcessRunner& runner);
// Prints the hint for a session still alive, else looks up the agent's session id on the
// desktop and prints how to resume it; prints nothing when the lookup fails or the id is unsafe.
void print_resume_hint(std::string_view session, std::string_view tool, bool alive,
                       bool inside_tmux, ProcessRunner& runner);

}  // namespace ombrel::launcher
