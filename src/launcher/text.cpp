#include "text.hpp"

#include <cstdlib>
#include <limits>

namespace ombrel::launcher {
namespace {

bool in(unsigned char c, unsigned char lo, unsigned char hi) {
  return c >= lo && c <= hi;
}

// Length of the valid sequence starting at i, or 0 with *bad set to the number of bytes
// that form the broken prefix (at least 1).
std::size_t valid_sequence(std::string_view s, std::size_t i, std::size_t* bad) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (in(b0, 0xC2, 0xDF)) {
    len = 2;
  } else if (in(b0, 0xE0, 0xEF)) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (in(b0, 0xF0, 0xF4)) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= s.size()) {
      *bad = k;
      return 0;
    }
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (k == 1 ? !in(b, lo, hi) : !in(b, 0x80, 0xBF)) {
      *bad = k;
      return 0;
    }
  }
  return len;
}

char32_t decode(std::string_view s, std::size_t i, std::size_t len) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (len == 1) return b0 < 0x80 ? b0 : 0xFFFD;  // a stray byte is never white space
  char32_t cp = b0 & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return cp;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Length of the code point at i in valid UTF-8 (1 for a stray byte, so loops always advance).
std::size_t step(std::string_view s, std::size_t i) {
  std::size_t bad = 0;
  std::size_t len = valid_sequence(s, i, &bad);
  return len == 0 ? 1 : len;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0, bad = 0; i < bytes.size();) {
    std::size_t len = valid_sequence(bytes, i, &bad);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t bad = 0;
    std::size_t len = valid_sequence(bytes, i, &bad);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      i += bad;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string_view trim_space(std::string_view text) {
  text = trim_start_space(text);
  const std::size_t begin = 0;
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    if (step(text, start) != end - start || !is_white_space(decode(text, start, end - start))) {
      break;
    }
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string_view trim_start_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && is_white_space(decode(text, begin, step(text, begin)))) {
    begin += step(text, begin);
  }
  return text.substr(begin);
}

std::optional<std::string_view> nth_word(std::string_view text, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t word = 0;; ++word) {
    while (i < text.size() && is_white_space(decode(text, i, step(text, i)))) i += step(text, i);
    if (i >= text.size()) return std::nullopt;
    std::size_t start = i;
    while (i < text.size() && !is_white_space(decode(text, i, step(text, i)))) i += step(text, i);
    if (word == n) return text.substr(start, i - start);
  }
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
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
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

}  // namespace ombrel::launcher
