// Reading and writing JSON text. Parsing rejects documents nested deeper than
// kMaxJsonDepth so that no later recursion can exhaust the stack; writing is compact, with
// members in ascending byte order, and cannot fail (invalid UTF-8 is written as U+FFFD).
#pragma once

#include <functional>
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
// The length of that text, and whether every string in the value is UTF-8 (the writer
// repairs those that are not): what write_json_pieces needs to know beforehand.
struct JsonTextSize {
  std::size_t bytes;
  bool all_utf8;
};
JsonTextSize measure_json_text(const Json& value);
// The same text, of the size measured, handed to `sink` in pieces of at most piece_bytes
// (at least 1024), so that a large value is never held as text whole. Stops feeding the
// sink after its first failure, and returns that failure.
Status write_json_pieces(const Json& value, const JsonTextSize& size, std::size_t piece_bytes,
                         const std::function<Status(std::string_view)>& sink);
// The exact length of that text, without writing it.
std::size_t json_text_size(const Json& value);

}  // namespace ombrel::hook
