// The answers the server sends: JSON bodies on a connection that is closed afterwards.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrel::devserver {

struct Reply {
  int status = 200;
  std::string body;                                          // JSON text
  std::vector<std::pair<std::string, std::string>> headers;  // besides the standard ones
};

// The status line, Connection: close, Content-Length, Content-Type: application/json, the
// extra headers, and the body.
std::string reply_text(const Reply& reply);

// "HTTP/1.1 100 Continue", for clients that wait for it before they send a body.
inline constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace ombrel::devserver
