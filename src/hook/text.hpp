// The hook's own text rules on top of common/utf8.hpp: counting and cutting by Unicode
// scalar values, splitting at white space, case mappings. Never uses the C locale. Invalid
// bytes count as one non-space unit each, so every function is safe on any input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "common/utf8.hpp"

namespace ombrel::hook::text {

std::size_t char_count(std::string_view s);
// The first n characters; never splits one.
std::string_view take_chars(std::string_view s, std::size_t n);
// The pieces between runs of white space; no empty pieces.
std::vector<std::string_view> split_white_space(std::string_view s);

// The full Unicode upper-case mapping of one character (it may be several).
std::u32string to_upper(char32_t c);

}  // namespace ombrel::hook::text
