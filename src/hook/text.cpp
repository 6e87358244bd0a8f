#include "text.hpp"

namespace ombrel::hook::text {

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += utf8::decode(s, i).len) ++n;
  return n;
}

std::string_view take_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < n && i < s.size(); ++k) i += utf8::decode(s, i).len;
  return s.substr(0, i);
}

std::vector<std::string_view> split_white_space(std::string_view s) {
  std::vector<std::string_view> pieces;
  std::size_t i = 0, start = 0;
  bool in_piece = false;
  while (i < s.size()) {
    utf8::Decoded d = utf8::decode(s, i);
    if (utf8::is_white_space(d.cp)) {
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

}  // namespace ombrel::hook::text
