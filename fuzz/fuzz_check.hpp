// Invariant checks shared by the fuzz targets. A broken invariant prints what was seen and
// aborts, which libFuzzer records as a crash together with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace ombrel::fuzz {

using hook::Json;

[[noreturn]] void broken(std::string_view what, std::string_view detail = {});

inline void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) broken(what, detail);
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The compact text of a value reads back as the same value and is written again byte for
// byte, so whatever the hook sends or prints is one well-formed, canonical JSON document.
// Returns that text.
std::string check_round_trip(const Json& value, std::string_view what);

// Every string and member name is valid UTF-8: since all input text is, a string that is
// not would mean the hook cut one in the middle of a character.
void check_utf8_strings(const Json& value, std::string_view what);

// What nlohmann::json's own parser reads from the text (the whole text, or with strict off
// its first value), refused beyond kMaxJsonDepth levels and, as a whole text, when it holds
// a NUL byte: the behaviour the hook's parser promises to match.
std::optional<Json> reference_parse(std::string_view text, bool strict);

// The hook's parser agrees with the reference on the text: the same verdict, and the same
// value down to the kind of each number.
void check_parser_agrees(std::string_view text);

// Whether the text has white space at either end.
bool has_outer_white_space(std::string_view s);

}  // namespace ombrel::fuzz
