// Cline's hooks: one script per event, named after the event (no extension), that execs the
// hook. Ours are recognised by their exec line; a file of the user's under the same name is
// never overwritten.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "agents.hpp"

namespace ombrel::setup {

std::string script_text(const Agent& agent, std::string_view hook_path, std::string_view event);

// The hook's program when some line of the script runs our hook, else nothing.
std::optional<std::string> our_script_program(std::string_view text);

}  // namespace ombrel::setup
