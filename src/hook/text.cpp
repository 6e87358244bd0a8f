#include "text.hpp"

#include <cstdint>
#include <cstring>

namespace ombrel::hook::text {
namespace {

bool is_cont(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

Decoded decode(std::string_view s, std::size_t pos) {
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

bool is_valid_utf8(std::string_view s) {
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
    Decoded d = decode(s, i);
    if (d.cp == kReplacement && d.len == 1) {
      // U+FFFD itself is three bytes long, so a one-byte result is always an error.
      return false;
    }
    i += d.len;
  }
  return true;
}

bool is_white_space(char32_t c) {
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

void append_utf8(std::string& out, char32_t cp) {
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

std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    Decoded d = decode(s, i);
    if (!is_white_space(d.cp)) break;
    i += d.len;
  }
  return s.substr(i);
}

std::string_view trim_end(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    std::size_t start = end - 1;
    // Step back to the lead byte of the last character (at most three continuation bytes).
    while (start > 0 && end - start < 4 && !is_char_boundary(s, start)) --start;
    Decoded d = decode(s, start);
    if (start + d.len != end) {
      // The bytes do not form one character ending here: the last byte is an invalid unit.
      break;
    }
    if (!is_white_space(d.cp)) break;
    end = start;
  }
  return s.substr(0, end);
}

std::string_view trim(std::string_view s) {
  return trim_end(trim_start(s));
}

bool is_blank(std::string_view s) {
  return trim_start(s).empty();
}

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += decode(s, i).len) ++n;
  return n;
}

std::string_view take_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < n && i < s.size(); ++k) i += decode(s, i).len;
  return s.substr(0, i);
}

std::vector<std::string_view> split_white_space(std::string_view s) {
  std::vector<std::string_view> pieces;
  std::size_t i = 0, start = 0;
  bool in_piece = false;
  while (i < s.size()) {
    Decoded d = decode(s, i);
    if (is_white_space(d.cp)) {
      if (in_piece) pieces.push_back(s.substr(start, i - start));
      in_piece = false;
    } else if (!in_piece) {
      start = i;
      in_piece = true;
    }
    i += d.len;
  }
  if (in_piece) pieces.push_back(s.substr(start));
  return pieces;
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

std::string lossy_utf8(std::string_view s) {
  if (is_valid_utf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    Decoded d = decode(s, i);
    if (d.cp == kReplacement && d.len == 1) {
      append_utf8(out, kReplacement);
    } else {
      out.append(s.substr(i, d.len));
    }
    i += d.len;
  }
  return out;
}

}  // namespace ombrel::hook::text
