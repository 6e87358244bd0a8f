// The desktop's address as the hook reads it (OMBREL_SERVER, else the default) and whether
// anything listens there. Reachability is a bare TCP connect, closed at once: no request is
// sent, so the desktop records nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "doctor_check.hpp"

namespace ombrel::doctor {

inline constexpr std::string_view kDefaultServer = "http://127.0.0.1:7337";
inline constexpr std::chrono::milliseconds kConnectTimeout{1000};

struct ServerAddress {
  std::string host;  // ready for the resolver: an IPv6 literal without its brackets
  std::uint16_t port = 80;
};

// The URL, checked by the hook's rules: "http://" exactly, no control character or space,
// a port of 0-65535 with an optional "+"; and, beyond them, a host (the hook would try to
// resolve an empty one and fail at every event).
Result<ServerAddress> parse_server_url(std::string_view url);

// The row for OMBREL_SERVER, given its raw value (nothing when unset), and the address the
// hook would try, when it has one. A value that is not UTF-8 is ignored by the hook, which
// then uses the default: a failure too, since it is not what the user wrote.
struct ServerCheck {
  Check row;
  std::optional<ServerAddress> address;
};
ServerCheck check_server_setting(const std::optional<std::string>& raw);

// Opens and closes one TCP connection within the timeout; the error says why it failed.
using Connector =
    std::function<Status(const std::string& host, std::uint16_t port, std::chrono::milliseconds)>;
Status connect_and_close(const std::string& host, std::uint16_t port,
                         std::chrono::milliseconds timeout);

// The row for the desktop: not tried when the address is unusable.
Check check_desktop(const std::optional<ServerAddress>& address, const Connector& connect);

}  // namespace ombrel::doctor
