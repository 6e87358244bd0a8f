// The hook's HTTP/1.1 client for the desktop server: one fresh connection per call, one
// POST with a JSON body, the whole answer read until the server closes. No TLS, no
// redirects, no keep-alive, no retries. Every failure is an error text, never an exit.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "json_text.hpp"

namespace ombrel::hook {

struct ParsedUrl {
  std::string host;  // as written: an IPv6 literal keeps its brackets, as the Host: line needs
  std::uint16_t port = 80;
  std::string path;  // always begins with "/"
};

inline constexpr std::size_t kMaxResponseBytes = std::size_t{64} << 20;
// A request body goes out in pieces of this size: one send for any ordinary report.
inline constexpr std::size_t kBodyWindowBytes = std::size_t{256} << 10;

// "http://host[:port][/path]"; query and fragment stay in the path. A URL holding a control
// character or a space is refused: it would be written into the request head.
Result<ParsedUrl> parse_url(std::string_view url);
// Unsigned 16-bit decimal with an optional leading "+", with the parser's error texts.
Result<std::uint16_t> parse_port(std::string_view text);

std::string request_text(const ParsedUrl& url, std::size_t content_length);  // without the body

// The status code of a response's first line, when its second field is one.
std::optional<std::uint16_t> status_code(std::string_view status_line);
// The text of a chunked body decoded, or nothing when it is not well-formed.
std::optional<std::string> decode_chunked_body(std::string_view text);
// Turns the complete response text into the parsed body or the error of a non-2xx status.
Result<Json> interpret_response(std::string_view response);

// POSTs the compact JSON of body; the whole exchange (connect, write, read) ends within
// timeout.
Result<Json> post_json(std::string_view url, const Json& body, std::chrono::milliseconds timeout);

}  // namespace ombrel::hook
