// ASCII-only case folding, for the comparisons the programs define on ASCII letters (header
// names, agent names, terminal names); other bytes are left alone, the locale is never read.
#pragma once

#include <string>
#include <string_view>

namespace ombrel::ascii {

inline char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

inline bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace ombrel::ascii
