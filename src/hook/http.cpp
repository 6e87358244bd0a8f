#include "http.hpp"

#include <limits>

#include "common/http_url.hpp"
#include "net.hpp"
#include "text.hpp"

namespace ombrel::hook {
namespace {

// Unsigned parsing with an optional "+", the way the error texts describe it.
template <class T>
Result<T> parse_unsigned(std::string_view s, int base) {
  if (s.empty()) return fail("cannot parse integer from empty string");
  if (s[0] == '+') {
    s.remove_prefix(1);
    if (s.empty()) return fail("invalid digit found in string");
  }
  T value = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return fail("invalid digit found in string");
    }
    // Digits are taken left to right; whichever problem comes first is the one reported.
    if (value > (std::numeric_limits<T>::max() - static_cast<T>(digit)) / static_cast<T>(base)) {
      return fail("number too large to fit in target type");
    }
    value = static_cast<T>(value * static_cast<T>(base) + static_cast<T>(digit));
  }
  return value;
}

bool starts_with_ascii_ci(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() && ascii::lower(line.substr(0, prefix.size())) == prefix;
}

bool is_chunked(std::string_view headers) {
  std::size_t pos = 0;
  while (pos <= headers.size()) {
    std::size_t end = headers.find('\n', pos);
    std::string_view line = headers.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (starts_with_ascii_ci(line, "transfer-encoding: chunked")) return true;
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return false;
}

// "100 Continue" and the other 1xx heads come before the real answer. 101 is no interim
// answer: it says the connection no longer speaks HTTP, and is taken as a failing status.
bool is_interim(std::optional<std::uint16_t> status) {
  return status && *status >= 100 && *status <= 199 && *status != 101;
}

std::string status_error(std::uint16_t status, std::string_view body) {
  std::string_view shown = text::take_chars(utf8::trim(body), 500);
  std::string message = "HTTP " + std::to_string(status);
  if (!shown.empty()) message.append(": ").append(shown);
  return message;
}

}  // namespace

Result<std::uint16_t> parse_port(std::string_view text) {
  return parse_unsigned<std::uint16_t>(text, 10);
}

Result<ParsedUrl> parse_url(std::string_view url) {
  const auto parts = split_http_url(url);
  if (!parts) return fail("only http:// URLs are supported");
  if (has_control_or_space(url)) return fail("server URL holds a control character or a space");
  ParsedUrl parsed{std::string(parts->host), 80, std::string(parts->path)};
  if (parts->port) {
    auto port = parse_port(*parts->port);
    if (!port) return Error{port.error()};
    parsed.port = port.value();
  }
  return parsed;
}

std::string request_text(const ParsedUrl& url, std::size_t content_length) {
  return "POST " + url.path + " HTTP/1.1\r\nHost: " + url.host + ":" + std::to_string(url.port) +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(content_length) +
         "\r\nConnection: close\r\n\r\n";
}

std::optional<std::uint16_t> status_code(std::string_view status_line) {
  auto fields = text::split_white_space(status_line);
  if (fields.size() < 2) return std::nullopt;
  auto code = parse_unsigned<std::uint16_t>(fields[1], 10);
  if (!code) return std::nullopt;
  return code.value();
}

std::optional<std::string> decode_chunked_body(std::string_view rest) {
  std::string out;
  for (;;) {
    std::size_t line_end = rest.find("\r\n");
    if (line_end == std::string_view::npos) return std::nullopt;
    std::string_view size_line = rest.substr(0, line_end);
    rest.remove_prefix(line_end + 2);
    std::string_view size_text = utf8::trim(size_line.substr(0, size_line.find(';')));
    auto size = parse_unsigned<std::uint64_t>(size_text, 16);
    if (!size) return std::nullopt;
    if (size.value() == 0) return out;
    // The chunk and the two bytes after it must be there; compared without overflowing.
    if (rest.size() < 2 || size.value() > rest.size() - 2) return std::nullopt;
    const auto n = static_cast<std::size_t>(size.value());
    if (!utf8::is_char_boundary(rest, n) || !utf8::is_char_boundary(rest, n + 2)) {
      return std::nullopt;
    }
    out.append(rest.substr(0, n));
    rest.remove_prefix(n + 2);
  }
}

Result<Json> interpret_response(std::string_view response) {
  std::string_view headers, raw_body;
  std::optional<std::uint16_t> status;
  for (;;) {
    std::size_t split = response.find("\r\n\r\n");
    headers = split == std::string_view::npos ? "" : response.substr(0, split);
    raw_body = split == std::string_view::npos ? "" : response.substr(split + 4);
    std::string_view first_line = headers.substr(0, headers.find('\n'));
    if (!first_line.empty() && first_line.back() == '\r') first_line.remove_suffix(1);
    status = headers.empty() ? std::nullopt : status_code(first_line);
    if (!is_interim(status)) break;
    response = raw_body;  // an interim head has no body: the real answer follows it
  }

  std::optional<std::string> decoded;
  if (is_chunked(headers)) decoded = decode_chunked_body(raw_body);
  std::string_view body = decoded ? std::string_view(*decoded) : raw_body;
  if (status && (*status < 200 || *status > 299)) return fail(status_error(*status, body));

  std::string_view trimmed = utf8::trim(body);
  if (trimmed.empty()) return Json::object();
  auto parsed = parse_json(trimmed);
  if (!parsed) return Json::object();
  return parsed.take();
}

Result<Json> post_json(std::string_view url, const Json& body, std::chrono::milliseconds timeout) {
  // The limit covers the whole exchange: a server that trickles its answer a byte at a
  // time must not hold the agent up for longer than the caller allowed.
  const Deadline deadline = std::chrono::steady_clock::now() + timeout;
  auto parsed = parse_url(url);
  if (!parsed) return Error{parsed.error()};
  const JsonTextSize body_size = measure_json_text(body);

  auto connection =
      connect_tcp(std::string(resolvable_host(parsed.value().host)), parsed.value().port, deadline);
  if (!connection) return Error{connection.error()};
  const int fd = connection.value().get();

  // The body is written straight into the socket, a window at a time, behind the head: a
  // report that holds megabytes of tool input is never held as text too (which would cost
  // its size again in memory, and the time to fault those pages in).
  std::string head = request_text(parsed.value(), body_size.bytes);
  auto send_piece = [&](std::string_view piece) {
    Status sent = send_all(fd, head, piece, deadline);
    head.clear();
    return sent;
  };
  if (Status sent = write_json_pieces(body, body_size, kBodyWindowBytes, send_piece); !sent) {
    return Error{sent.error()};
  }

  auto response = read_to_end(fd, deadline, kMaxResponseBytes);
  if (!response) return Error{response.error()};
  if (!utf8::is_valid(response.value())) return fail("stream did not contain valid UTF-8");
  return interpret_response(response.value());
}

}  // namespace ombrel::hook
