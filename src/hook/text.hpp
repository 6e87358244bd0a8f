// UTF-8 text rules of the hook: validation, Unicode White_Space, counting and cutting by
// Unicode scalar values. Never uses the C locale. Invalid bytes count as one non-space
// unit each, so every function is safe on any input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel::hook::text {

inline constexpr char32_t kReplacement = 0xFFFD;

bool is_valid_utf8(std::string_view s);
bool is_white_space(char32_t c);  // the Unicode White_Space property

struct Decoded {
  char32_t cp;      // kReplacement for an invalid byte
  std::size_t len;  // bytes consumed, at least 1
};
Decoded decode(std::string_view s, std::size_t pos);
// The length of the well-formed UTF-8 sequence at pos (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when there is none.
inline std::size_t sequence_length(std::string_view s, std::size_t pos) {
  Decoded d = decode(s, pos);
  return d.cp == kReplacement && d.len == 1 ? 0 : d.len;
}
void append_utf8(std::string& out, char32_t cp);

std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);
bool is_blank(std::string_view s);  // empty once trimmed

std::size_t char_count(std::string_view s);
// The first n characters; never splits one.
std::string_view take_chars(std::string_view s, std::size_t n);
// The pieces between runs of white space; no empty pieces.
std::vector<std::string_view> split_white_space(std::string_view s);

// ASCII-only case folding, for comparisons the system defines on ASCII letters.
std::string ascii_lower(std::string_view s);
bool ascii_iequals(std::string_view a, std::string_view b);

// The full Unicode upper-case mapping of one character (it may be several).
std::u32string to_upper(char32_t c);

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view s);

// Whether a byte offset falls on a character boundary of valid UTF-8 text.
inline bool is_char_boundary(std::string_view s, std::size_t pos) {
  return pos >= s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80;
}

}  // namespace ombrel::hook::text
