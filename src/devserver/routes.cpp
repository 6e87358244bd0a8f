#include "routes.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace ombrel::devserver {

std::variant<Endpoint, Refusal> route(std::string_view method, std::string_view path) {
  static constexpr std::array<std::pair<std::string_view, Endpoint>, 5> kEndpoints{{
      {"/state", Endpoint::State},
      {"/permission", Endpoint::Permission},
      {"/permission/cancel", Endpoint::Cancel},
      {"/tmux/register", Endpoint::TmuxRegister},
      {"/tmux/lookup", Endpoint::TmuxLookup},
  }};
  for (const auto& [known, endpoint] : kEndpoints) {
    if (path != known) continue;
    if (method != "POST") return Refusal{405, std::string(path) + " takes POST only"};
    return endpoint;
  }
  return Refusal{404, "no such endpoint: " + std::string(path)};
}

std::size_t nesting_depth(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

Result<Json> parse_object_body(std::string_view body) {
  if (nesting_depth(body) > kMaxNesting) return fail("the body is nested too deeply");
  Json value = Json::parse(body, nullptr, false);
  if (value.is_discarded()) return fail("the body is not JSON");
  if (!value.is_object()) return fail("the body must be a JSON object");
  return value;
}

Json error_body(std::string_view message) {
  Json body = Json::object();
  body["error"] = std::string(message);
  return body;
}

Reply refusal_reply(const Refusal& refusal) {
  Reply reply{refusal.status, compact(error_body(refusal.message)), {}};
  if (refusal.status == 405) reply.headers.emplace_back("Allow", "POST");
  return reply;
}

}  // namespace ombrel::devserver
