// Text helpers for the launcher: UTF-8 checks and lossy decoding, Unicode white space
// trimming, ASCII case folding and strict decimal parsing. Nothing here reads the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"

namespace ombrel::launcher {

bool is_valid_utf8(std::string_view bytes);
// Each invalid sequence (its longest valid-looking prefix) becomes one U+FFFD.
std::string utf8_lossy(std::string_view bytes);
// Removes Unicode White_Space from both ends; expects valid UTF-8.
std::string_view trim_space(std::string_view text);
// Removes Unicode White_Space from the front only.
std::string_view trim_start_space(std::string_view text);
// The n-th (0-based) run of non-white-space characters; nothing when there are fewer.
std::optional<std::string_view> nth_word(std::string_view text, std::size_t n);

std::string ascii_lower(std::string_view text);
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

// Decimal digits only; the error describes what was wrong with the text.
Result<std::uint16_t> parse_u16(std::string_view text);
std::optional<std::uint32_t> parse_u32(std::string_view text);

// The variable's value when it is set and valid UTF-8; nothing otherwise.
std::optional<std::string> env_text(const char* name);

}  // namespace ombrel::launcher
