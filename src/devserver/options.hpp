// The command line of ombrel-devserver. Parsing is pure: it returns the options or the
// text of the first mistake, and never prints or exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "decision.hpp"

namespace ombrel::devserver {

struct ListenAddress {
  std::string host = "127.0.0.1";
  int port = 7337;  // 0: any free port
};

// "HOST:PORT", or "[IPV6]:PORT"; the port is 0 to 65535.
Result<ListenAddress> parse_listen_address(std::string_view text);
// "http://HOST:PORT", with an IPv6 host in brackets.
std::string url_of(const ListenAddress& address);

enum class Action { Serve, Help, Version };

struct Options {
  Action action = Action::Serve;
  ListenAddress listen;
  std::optional<std::string> events_path;
  std::optional<Mode> mode;  // nothing: decided by effective_mode
  std::vector<std::string> deny_tools;
  std::optional<std::uint64_t> answer;  // counted from 1
};

// args[0] is the program name. "--name value" and "--name=value" are both accepted.
// -h/--help or --version anywhere asks for that and nothing else (help first).
Result<Options> parse_options(const std::vector<std::string>& args);

// Without --decide: ask on a terminal; elsewhere nobody could answer, so the request goes
// back to the agent, which then asks its user in its own way.
Mode effective_mode(std::optional<Mode> chosen, bool stdin_is_terminal);

std::string usage_text();

}  // namespace ombrel::devserver
