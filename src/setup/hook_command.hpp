// The command line an agent runs for our hook, and how setup recognises one it wrote: a
// command whose program (its first word, quotes removed) is named ombrel-hook. Nothing else
// about an entry marks it as ours, so the user's own hooks are never taken for ours.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "agents.hpp"

namespace ombrel::setup {

inline constexpr std::string_view kHookName = "ombrel-hook";

// A word as a POSIX shell reads it: unchanged when it holds only safe characters, else in
// single quotes.
std::string shell_quote(std::string_view word);

// "HOOK --source NAME" and, where the agent needs it, "--event EVENT".
std::string hook_command(const Agent& agent, std::string_view hook_path, std::string_view event);

// The first word of a shell command with its quotes removed; a leading "exec" is skipped.
std::optional<std::string> command_program(std::string_view command);

// The program of the command when it is an ombrel-hook (any folder), else nothing.
std::optional<std::string> our_hook_program(std::string_view command);

}  // namespace ombrel::setup
