#include "text.hpp"

#include <cstdlib>
#include <limits>

namespace ombrel::launcher {

std::optional<std::string_view> nth_word(std::string_view text, std::size_t n) {
  std::size_t i = 0;
  auto space_at = [&](std::size_t at) { return utf8::is_white_space(utf8::decode(text, at).cp); };
  for (std::size_t word = 0;; ++word) {
    while (i < text.size() && space_at(i)) i += utf8::decode(text, i).len;
    if (i >= text.size()) return std::nullopt;
    std::size_t start = i;
    while (i < text.size() && !space_at(i)) i += utf8::decode(text, i).len;
    if (word == n) return text.substr(start, i - start);
  }
}

Result<std::uint16_t> parse_u16(std::string_view text) {
  if (text.empty()) return fail("cannot parse a number from empty text");
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fail("invalid digit in number \"" + std::string(text) + "\"");
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > std::numeric_limits<std::uint16_t>::max()) {
      return fail("number \"" + std::string(text) + "\" too large (at most 65535)");
    }
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint32_t> parse_u32(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::string> env_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !utf8::is_valid(value)) return std::nullopt;
  return std::string(value);
}

}  // namespace ombrel::launcher
