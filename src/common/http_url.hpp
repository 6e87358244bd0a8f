// The split of an "http://host[:port][/path]" URL into its parts, as written. Each program
// reads the port and words its errors itself: those texts are part of what it promises.
#pragma once

#include <optional>
#include <string_view>

namespace ombrel {

struct HttpUrlParts {
  std::string_view host;                 // as written, brackets of an IPv6 literal included
  std::optional<std::string_view> port;  // the text after the host's ":", if any
  std::string_view path;                 // from the first "/" after the authority; "/" if none
};

// Nothing when the URL does not begin with "http://" (exactly, lower case). Query and
// fragment stay in the path; nothing is validated. The port follows the authority's last ":"
// unless that colon lies inside the brackets of an IPv6 literal ("http://[::1]" has none).
inline std::optional<HttpUrlParts> split_http_url(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  const std::string_view rest = url.substr(kScheme.size());
  const std::size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  HttpUrlParts parts;
  parts.path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
  std::size_t colon = authority.rfind(':');
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close != std::string_view::npos && colon != std::string_view::npos && colon < close)
      colon = std::string_view::npos;
  }
  parts.host = authority.substr(0, colon);
  if (colon != std::string_view::npos) parts.port = authority.substr(colon + 1);
  return parts;
}

// C0 and C1 controls, DEL and the space: none may reach the request head, where a line
// break would end the request line or start a header of its own.
inline bool has_control_or_space(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte <= 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

// The host to give the resolver: an IPv6 literal without its brackets ("[::1]" gives "::1").
// The Host: line keeps them.
inline std::string_view resolvable_host(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

}  // namespace ombrel
