// `ombrel doctor` on the real machine: the process environment, the hook beside this program
// (as setup finds it), real child processes, the resolver and the launcher's tmux lookup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ombrel::doctor {

// words: what follows "doctor".
int doctor_command(const std::vector<std::string>& words, const char* argv0);
extern const std::string_view kDoctorSummary;

}  // namespace ombrel::doctor
