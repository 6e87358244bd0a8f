// One launch from the tool word to the exit status: checks, registration, the session
// (attached, or switched to from inside tmux), and the hint once the user is back.
#pragma once

#include <string>
#include <vector>

namespace ombrel::launcher {

// argv0 helps find this program where the system cannot say (see own_executable).
int launch(const std::string& tool, const std::vector<std::string>& args, const char* argv0);

}  // namespace ombrel::launcher
