// Which endpoint a request is for, and how a request that fits none is refused. Pure.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "common/result.hpp"
#include "http_reply.hpp"
#include "json_fields.hpp"

namespace ombrel::devserver {

enum class Endpoint { State, Permission, Cancel, TmuxRegister, TmuxLookup };

struct Refusal {
  int status = 400;
  std::string message;
};

// Every endpoint takes POST only: another method on a known path is refused with 405, an
// unknown path with 404.
std::variant<Endpoint, Refusal> route(std::string_view method, std::string_view path);

// Deeper bodies are refused: writing a value out recurses once per level, and a body of a
// few megabytes of brackets would otherwise exhaust a thread's stack.
inline constexpr std::size_t kMaxNesting = 256;

// The deepest nesting of arrays and objects in a JSON text (brackets inside strings do not
// count). Works on any text, valid JSON or not.
std::size_t nesting_depth(std::string_view text);

// The body as a JSON object; the error says what is wrong with it.
Result<Json> parse_object_body(std::string_view body);

// {"error": message}
Json error_body(std::string_view message);

// The refusal as an answer: its status, the error body, and "Allow: POST" with a 405.
Reply refusal_reply(const Refusal& refusal);

}  // namespace ombrel::devserver
