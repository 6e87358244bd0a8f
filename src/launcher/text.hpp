// Text helpers of the launcher on top of common/utf8.hpp: words, ASCII case folding, strict
// decimal parsing, environment text. Nothing here reads the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/ascii.hpp"
#include "common/result.hpp"
#include "common/utf8.hpp"

namespace ombrel::launcher {

// The n-th (0-based) run of non-white-space characters; nothing when there are fewer.
std::optional<std::string_view> nth_word(std::string_view text, std::size_t n);

// Decimal digits only; the error describes what was wrong with the text.
Result<std::uint16_t> parse_u16(std::string_view text);
std::optional<std::uint32_t> parse_u32(std::string_view text);

// The variable's value when it is set and valid UTF-8; nothing otherwise.
std::optional<std::string> env_text(const char* name);

}  // namespace ombrel::launcher
