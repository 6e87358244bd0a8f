// Facts about the terminal the launcher was started from, and the registration that tells
// the desktop about the new tmux session. Every probe is best effort: a failed probe
// leaves its field absent (sent as null), and nothing here ever fails the launch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process.hpp"

namespace ombrel::launcher {

struct LauncherTerminalMeta {
  std::uint32_t pid = 0;                      // the launcher itself
  std::optional<std::uint32_t> parent_pid;    // its parent, as ps reports it
  std::optional<std::string> tty;             // controlling terminal as ps names it
  std::optional<std::string> term_program;    // TERM_PROGRAM, when non-empty
  std::optional<std::string> bundle_id;       // __CFBundleIdentifier, when non-empty
  std::optional<std::string> terminal_app;    // from the process search or the environment
  std::optional<std::uint32_t> terminal_pid;  // set only when the process search found the app
  std::vector<std::uint32_t> pid_chain;       // pid, then up to 7 ancestors
  std::optional<std::int64_t> terminal_hwnd;  // never determined here; always absent
};

// The parent of pid by "ps -o ppid= -p PID"; nothing when ps fails or prints no number.
std::optional<std::uint32_t> parent_pid(std::uint32_t pid, ProcessRunner& runner);
// pid and its ancestors, at most 8; stops at an unknown parent, one below 2, or a repeat of
// the last entry.
std::vector<std::uint32_t> pid_chain(std::uint32_t pid, ProcessRunner& runner);
// The controlling terminal by "ps -o tty= -p PID"; nothing for none ("?" or "??").
std::optional<std::string> controlling_tty(std::uint32_t pid, ProcessRunner& runner);
// macOS only: the process name System Events gives for pid; nothing when osascript is
// missing, refused, or prints only white space.
std::optional<std::string> macos_process_name(std::uint32_t pid, ProcessRunner& runner);
// True when name is one of the known terminal applications, ignoring ASCII case.
bool is_known_terminal_app(std::string_view name);
// The terminal application guessed from TERM_PROGRAM and __CFBundleIdentifier.
std::optional<std::string> terminal_app_from_env(std::optional<std::string_view> term_program,
                                                 std::optional<std::string_view> bundle_id);
// Gathers every field for the running launcher; never fails.
LauncherTerminalMeta collect_launcher_terminal_meta(ProcessRunner& runner);

// A JSON string literal; invalid UTF-8 in text becomes U+FFFD so the output stays JSON.
std::string json_string(std::string_view text);
// The number in decimal, or null when absent.
std::string json_u32(std::optional<std::uint32_t> value);
// The registration: twelve members in fixed order, compact.
std::string registration_body(std::string_view session, std::string_view tool, std::string_view cwd,
                              const LauncherTerminalMeta& meta);
// Posts the registration; a failure prints one warning on stderr and nothing else.
void register_with_desktop(std::string_view session, std::string_view tool, std::string_view cwd,
                           const LauncherTerminalMeta& meta, ProcessRunner& runner);

}  // namespace ombrel::launcher
