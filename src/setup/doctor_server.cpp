#include "doctor_server.hpp"

#include "common/http_url.hpp"
#include "common/utf8.hpp"
#include "net.hpp"

namespace ombrel::doctor {
namespace {

// The hook's port rule: decimal digits with an optional leading "+", at most 65535.
Result<std::uint16_t> parse_port(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return fail("the port is empty");
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fail("the port \"" + std::string(text) + "\" is not a number");
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return fail("the port " + std::string(text) + " is above 65535");
  }
  return static_cast<std::uint16_t>(value);
}

// The user's value as it can be shown on one line: controls as \xNN, invalid UTF-8 repaired.
std::string shown(const std::string& raw) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : utf8::lossy(raw)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return "\"" + out + "\"";
}

std::string url_fix() {
  return "set OMBREL_SERVER to http://HOST:PORT (where the desktop listens), or unset it for " +
         std::string(kDefaultServer);
}

}  // namespace

Result<ServerAddress> parse_server_url(std::string_view url) {
  const auto parts = split_http_url(url);
  if (!parts) return fail("only http:// URLs are supported");
  if (has_control_or_space(url)) return fail("it holds a control character or a space");
  if (parts->host.empty()) return fail("it names no host");
  ServerAddress address{std::string(resolvable_host(parts->host)), 80};
  if (parts->port) {
    auto port = parse_port(*parts->port);
    if (!port) return Error{port.error()};
    address.port = port.value();
  }
  return address;
}

ServerCheck check_server_setting(const std::optional<std::string>& raw) {
  const std::string name = "OMBREL_SERVER";
  if (!raw) {
    return {pass(name, "unset: the hook uses " + std::string(kDefaultServer)),
            parse_server_url(kDefaultServer).take()};
  }
  if (!utf8::is_valid(*raw)) {
    return {failure(name,
                    "not valid UTF-8: the hook ignores it and uses " + std::string(kDefaultServer),
                    url_fix()),
            parse_server_url(kDefaultServer).take()};
  }
  auto address = parse_server_url(*raw);
  if (!address) {
    return {failure(name, shown(*raw) + ": " + address.error(), url_fix()), std::nullopt};
  }
  return {pass(name, *raw), address.take()};
}

Status connect_and_close(const std::string& host, std::uint16_t port,
                         std::chrono::milliseconds timeout) {
  auto fd = launcher::connect_with_timeout(host, port, timeout);
  if (!fd) return Error{fd.error()};
  return Status::success();  // the descriptor closes here, before a byte is sent
}

Check check_desktop(const std::optional<ServerAddress>& address, const Connector& connect) {
  const std::string name = "desktop reachable";
  if (!address) {
    return failure(name, "not tried: OMBREL_SERVER is unusable", "fix OMBREL_SERVER first");
  }
  const std::string where = address->host + " port " + std::to_string(address->port);
  const Status connected = connect(address->host, address->port, kConnectTimeout);
  if (!connected) {
    return failure(name, "nothing answers at " + where + " (" + connected.error() + ")",
                   "start the Ombrel desktop app, or set OMBREL_SERVER to where it listens");
  }
  return pass(name, "something listens at " + where + " (connected, nothing sent)");
}

}  // namespace ombrel::doctor
