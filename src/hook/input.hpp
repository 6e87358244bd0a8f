// Standard input of the hook: read whole, then cleaned of the noise some agents put
// around the JSON (byte-order marks, NULs, replacement characters, a leading "?").
#pragma once

#include <string>
#include <string_view>

#include "common/result.hpp"

namespace ombrel::hook {

// All of standard input; fails on a read error or when the bytes are not valid UTF-8.
Result<std::string> read_stdin();
// Same, from any descriptor (for tests).
Result<std::string> read_all(int fd);

// The part of the raw input that should hold the JSON document; empty for no payload.
std::string_view clean_input(std::string_view raw);

}  // namespace ombrel::hook
