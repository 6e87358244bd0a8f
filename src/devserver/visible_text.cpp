#include "visible_text.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "common/utf8.hpp"

namespace ombrel::devserver {

namespace {

using Range = std::pair<char32_t, char32_t>;

// General categories Cc, Cf, Zl, Zp and Zs (less U+0020), with the Default_Ignorable_Code_Point
// property, merged and sorted.
constexpr std::array<Range, 29> kHidden{{
    {0x0, 0x1F},        {0x7F, 0xA0},       {0xAD, 0xAD},       {0x34F, 0x34F},
    {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},
    {0x890, 0x891},     {0x8E2, 0x8E2},     {0x115F, 0x1160},   {0x1680, 0x1680},
    {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x2000, 0x200F},   {0x2028, 0x202F},
    {0x205F, 0x206F},   {0x3000, 0x3000},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},
    {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0000, 0xE0FFF},
}};

constexpr std::array<Range, 15> kWide{{
    {0x1100, 0x115F},
    {0x2E80, 0x303E},
    {0x3041, 0x33FF},
    {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},
    {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},
    {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF},
    {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
}};

constexpr std::array<Range, 9> kCombining{{
    {0x300, 0x36F},
    {0x483, 0x489},
    {0x591, 0x5BD},
    {0x610, 0x61A},
    {0x64B, 0x65F},
    {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},
    {0x20D0, 0x20FF},
    {0xFE20, 0xFE2F},
}};

template <std::size_t N>
bool in(const std::array<Range, N>& ranges, char32_t c) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), c,
                             [](char32_t value, const Range& r) { return value < r.first; });
  return it != ranges.begin() && c <= std::prev(it)->second;
}

std::string escape(char32_t c) {
  switch (c) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      break;
  }
  char text[16];
  if (c <= 0xFFFF) {
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
  } else {
    std::snprintf(text, sizeof text, "\\U%08x", static_cast<unsigned>(c));
  }
  return text;
}

}  // namespace

bool is_hidden(char32_t c) {
  return in(kHidden, c);
}

std::vector<std::string> shown_pieces(std::string_view text, bool quoted) {
  std::vector<std::string> pieces;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8::sequence_length(text, i);
    if (length == 0) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "\\x%02x", static_cast<unsigned char>(text[i]));
      pieces.emplace_back(byte);
      ++i;
      continue;
    }
    const char32_t c = utf8::decode(text, i).cp;
    if (c == '\\') {
      pieces.emplace_back("\\\\");
    } else if (quoted && c == '"') {
      pieces.emplace_back("\\\"");
    } else if (is_hidden(c)) {
      pieces.push_back(escape(c));
    } else {
      pieces.emplace_back(text.substr(i, length));
    }
    i += length;
  }
  return pieces;
}

bool is_plain(std::string_view text) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size();) {
    if (utf8::sequence_length(text, i) == 0) return false;
    const utf8::Decoded d = utf8::decode(text, i);
    if (d.cp == ' ' || d.cp == '"' || d.cp == '\\' || is_hidden(d.cp)) return false;
    i += d.len;
  }
  return true;
}

std::vector<std::string> token_pieces(std::string_view text) {
  if (is_plain(text)) return shown_pieces(text, false);
  std::vector<std::string> pieces{"\""};
  for (std::string& piece : shown_pieces(text, true)) pieces.push_back(std::move(piece));
  pieces.emplace_back("\"");
  return pieces;
}

std::string token(std::string_view text) {
  std::string out;
  for (const std::string& piece : token_pieces(text)) out += piece;
  return out;
}

std::size_t columns(std::string_view piece) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < piece.size();) {
    const utf8::Decoded d = utf8::decode(piece, i);
    total += in(kCombining, d.cp) ? 0 : in(kWide, d.cp) ? 2 : 1;
    i += d.len;
  }
  return total;
}

std::vector<std::string> wrap(const std::vector<std::string>& pieces, std::size_t width,
                              std::size_t indent) {
  width = std::max<std::size_t>(width, 20);
  indent = std::min(indent, width / 2);
  std::vector<std::string> rows{""};
  std::size_t used = 0;
  for (const std::string& piece : pieces) {
    const std::size_t wide = columns(piece);
    if (used + wide > width && used > indent) {
      rows.emplace_back(indent, ' ');
      used = indent;
    }
    rows.back() += piece;
    used += wide;
  }
  return rows;
}

void append_literal(std::vector<std::string>& pieces, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8::decode(text, i).len;
    pieces.emplace_back(text.substr(i, length));
    i += length;
  }
}

}  // namespace ombrel::devserver
