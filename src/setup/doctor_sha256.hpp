// SHA-256 (FIPS 180-4), for comparing the hashes Codex stores when the user trusts a hook.
// Small and ours: no crypto library is on both macOS and Linux by default.
#pragma once

#include <string>
#include <string_view>

namespace ombrel::doctor {

// Lower-case hex digest of the bytes.
std::string sha256_hex(std::string_view bytes);

}  // namespace ombrel::doctor
