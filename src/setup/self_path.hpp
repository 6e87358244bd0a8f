// Where this program is, links resolved, and so the ombrel-hook installed beside it: the hook
// that setup wires (and doctor expects).
#pragma once

#include <string>

#include "common/result.hpp"

namespace ombrel::setup {

// This program's absolute path, with every link resolved.
Result<std::string> own_program(const char* argv0);

// The ombrel-hook beside this program, links resolved; an error naming where it looked.
Result<std::string> hook_beside(const char* argv0);

}  // namespace ombrel::setup
