// UTF-8 as every program reads it: validation, decoding, lossy repair, and trimming by the
// Unicode White_Space property. Never uses the C locale. Invalid bytes decode as one
// non-space unit each, so every function here is safe on any input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ombrel::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t cp;      // kReplacement for an invalid byte
  std::size_t len;  // bytes consumed, at least 1
};

namespace detail {

inline bool is_cont(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The bytes at pos that begin a well-formed sequence but stop short of one (at least 1):
// the "maximal subpart" that lossy repair turns into a single U+FFFD, as the Unicode
// standard recommends and as JSON writers do.
inline std::size_t maximal_subpart(std::string_view s, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
  const std::size_t left = s.size() - pos;
  const unsigned char b0 = p[0];
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 1;
  }
  std::size_t k = 1;
  for (; k < len && k < left; ++k) {
    const unsigned char b = p[k];
    if (k == 1 ? (b < lo || b > hi) : !is_cont(b)) break;
  }
  return k;
}

}  // namespace detail

// The character at pos (pos < s.size()), or kReplacement with length 1 when the bytes there
// are not a well-formed sequence (no overlong forms, no surrogates, nothing above U+10FFFF).
inline Decoded decode(std::string_view s, std::size_t pos) {
  using detail::is_cont;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
  const std::size_t left = s.size() - pos;
  const unsigned char b0 = p[0];
  if (b0 < 0x80) return {b0, 1};
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left >= 2 && is_cont(p[1])) return {char32_t((b0 & 0x1F) << 6 | (p[1] & 0x3F)), 2};
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left >= 3 && is_cont(p[1]) && is_cont(p[2])) {
      char32_t cp = char32_t((b0 & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) return {cp, 3};
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left >= 4 && is_cont(p[1]) && is_cont(p[2]) && is_cont(p[3])) {
      char32_t cp =
          char32_t((b0 & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F));
      if (cp >= 0x10000 && cp <= 0x10FFFF) return {cp, 4};
    }
  }
  return {kReplacement, 1};
}

// The length of the well-formed sequence at pos, or 0 when there is none.
inline std::size_t sequence_length(std::string_view s, std::size_t pos) {
  Decoded d = decode(s, pos);
  return d.cp == kReplacement && d.len == 1 ? 0 : d.len;
}

inline bool is_valid(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    // Long ASCII stretches are the common case: test eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t chunk;
      std::memcpy(&chunk, s.data() + i, 8);
      if ((chunk & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= n) break;
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    // U+FFFD itself is three bytes long, so a one-byte replacement is always an error.
    const std::size_t len = sequence_length(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

inline void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The text with each invalid sequence (its maximal subpart) replaced by one U+FFFD.
inline std::string lossy(std::string_view s) {
  if (is_valid(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = sequence_length(s, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      i += detail::maximal_subpart(s, i);
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

// The Unicode White_Space property.
inline bool is_white_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

// Whether a byte offset falls on a character boundary of valid UTF-8 text.
inline bool is_char_boundary(std::string_view s, std::size_t pos) {
  return pos >= s.size() || !detail::is_cont(static_cast<unsigned char>(s[pos]));
}

inline std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    Decoded d = decode(s, i);
    if (!is_white_space(d.cp)) break;
    i += d.len;
  }
  return s.substr(i);
}

inline std::string_view trim_end(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    std::size_t start = end - 1;
    // Step back to the lead byte of the last character (at most three continuation bytes).
    while (start > 0 && end - start < 4 && !is_char_boundary(s, start)) --start;
    Decoded d = decode(s, start);
    // Bytes that do not form one character ending here end with an invalid unit.
    if (start + d.len != end || !is_white_space(d.cp)) break;
    end = start;
  }
  return s.substr(0, end);
}

inline std::string_view trim(std::string_view s) {
  return trim_end(trim_start(s));
}

// Empty once trimmed.
inline bool is_blank(std::string_view s) {
  return trim_start(s).empty();
}

}  // namespace ombrel::utf8
