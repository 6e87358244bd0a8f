#include "http_reply.hpp"

#include <array>

namespace ombrel::devserver {

namespace {

std::string_view reason(int status) {
  static constexpr std::array<std::pair<int, std::string_view>, 14> kReasons{{
      {200, "OK"},
      {400, "Bad Request"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {408, "Request Timeout"},
      {410, "Gone"},
      {413, "Payload Too Large"},
      {414, "URI Too Long"},
      {417, "Expectation Failed"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {503, "Service Unavailable"},
      {505, "HTTP Version Not Supported"},
  }};
  for (const auto& [code, text] : kReasons) {
    if (code == status) return text;
  }
  return "Unknown";
}

}  // namespace

std::string reply_text(const Reply& reply) {
  std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " ";
  text += reason(reply.status);
  text += "\r\nConnection: close\r\nContent-Length: " + std::to_string(reply.body.size()) +
          "\r\nContent-Type: application/json\r\n";
  for (const auto& [name, value] : reply.headers) text += name + ": " + value + "\r\n";
  text += "\r\n";
  text += reply.body;
  return text;
}

}  // namespace ombrel::devserver
