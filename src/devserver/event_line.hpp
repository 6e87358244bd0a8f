// The readable lines the server prints: one line per event, whatever the payload holds.
// Pure functions; the clock text is passed in so that output is reproducible.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decision.hpp"
#include "json_fields.hpp"

namespace ombrel::devserver {

// Local wall-clock time as "HH:MM:SS.mmm".
std::string clock_text(std::chrono::system_clock::time_point time);

// A value as one token: bare when it is plain, otherwise in double quotes with escapes
// (see visible_text.hpp), so that no value can break the line, hide a part of itself or be
// mistaken for two. Event lines stay one line each: long values are cut to kMaxValueChars
// characters and end in "..."; the approval prompt shows every value whole.
inline constexpr std::size_t kMaxValueChars = 120;
std::string field_value(std::string_view text);

// "CLOCK [source] event tool command=... cwd=... session=... tmux=..."; parts the report
// does not carry are left out.
std::string state_line(std::string_view clock, const Json& report);
// "CLOCK [source] permission #ID tool command=... cwd=... session=..."
std::string permission_line(std::string_view clock, std::uint64_t id,
                            const ApprovalRequest& request);
// "CLOCK permission #ID -> behavior (reason)"
std::string decision_line(std::string_view clock, std::uint64_t id, const Decision& decision);
// "CLOCK cancel session=S: withdrew #1, #2" or "...: nothing was pending"
std::string cancel_line(std::string_view clock, std::string_view session_id,
                        const std::vector<std::uint64_t>& withdrawn);
// "CLOCK tmux register NAME tool=... cwd=... terminal=... tty=..."
std::string register_line(std::string_view clock, const Json& registration);
// "CLOCK tmux lookup NAME -> SESSION" or "-> null"
std::string lookup_line(std::string_view clock, std::string_view tmux_name,
                        const std::optional<std::string>& session_id);

// "approvals: MODE ..." naming the mode, where it came from, and the rules before it.
std::string policy_line(const Policy& policy, bool mode_from_command_line);

// The lines shown above the input line while the terminal decides a request: every
// payload text whole, wrapped to width columns. Options are numbered from 1.
std::vector<std::string> prompt_lines(std::uint64_t id, const ApprovalRequest& request,
                                      std::size_t width);
// The input line itself (no line break).
std::string prompt_input(const ApprovalRequest& request);

}  // namespace ombrel::devserver
