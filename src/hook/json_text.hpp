// Reading and writing JSON text. Parsing rejects documents nested deeper than
// kMaxJsonDepth so that no later recursion can exhaust the stack; writing is compact, with
// members in ascending byte order, and cannot fail (invalid UTF-8 is written as U+FFFD).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace ombrel::hook {

using Json = nlohmann::json;

inline constexpr int kMaxJsonDepth = 128;

// The whole text must be one JSON value; white space around it is allowed.
Result<Json> parse_json(std::string_view text);
// The same for a text already known to be UTF-8 throughout (standard input is checked as it
// is read), which spares checking it again.
Result<Json> parse_json_utf8(std::string_view text);
// The first JSON value at the start of the text; whatever follows it is ignored.
Result<Json> parse_json_prefix(std::string_view text);

// Appends the compact JSON text of a value. Strings escape '"', '\\' and the characters
// below U+0020 (\b \t \n \f \r by name, the rest as \u00xx); nothing else is escaped.
void write_json(const Json& value, std::string& out);
std::string to_json_text(const Json& value);
// The exact length of that text, without writing it.
std::size_t json_text_size(const Json& value);

}  // namespace ombrel::hook
