#include "options.hpp"

#include <charconv>
#include <functional>
#include <map>

namespace ombrel::devserver {

namespace {

template <class Number>
std::optional<Number> parse_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  Number value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

using Setter = std::function<Status(Options&, const std::string&)>;

Status set_listen(Options& options, const std::string& value) {
  auto address = parse_listen_address(value);
  if (!address) return fail("--listen: " + address.error());
  options.listen = address.take();
  return {};
}

Status set_events(Options& options, const std::string& value) {
  if (value.empty()) return fail("--events needs a file name");
  options.events_path = value;
  return {};
}

Status set_decide(Options& options, const std::string& value) {
  auto mode = parse_mode(value);
  if (!mode) return fail("--decide must be allow, deny, passthrough or ask, not \"" + value + "\"");
  options.mode = mode;
  return {};
}

Status add_deny_tool(Options& options, const std::string& value) {
  if (value.empty()) return fail("--deny-tool needs a tool name");
  options.deny_tools.push_back(value);
  return {};
}

Status set_answer(Options& options, const std::string& value) {
  auto number = parse_number<std::uint64_t>(value);
  if (!number || *number == 0)
    return fail("--answer needs an option number (1 for the first option)");
  options.answer = number;
  return {};
}

const std::map<std::string, Setter, std::less<>>& value_options() {
  static const std::map<std::string, Setter, std::less<>> setters = {
      {"--listen", set_listen},       {"--events", set_events}, {"--decide", set_decide},
      {"--deny-tool", add_deny_tool}, {"--answer", set_answer},
  };
  return setters;
}

}  // namespace

Result<ListenAddress> parse_listen_address(std::string_view text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos)
    return fail("expected HOST:PORT, got \"" + std::string(text) + "\"");
  std::string_view host = text.substr(0, colon);
  std::string_view port_text = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return fail("put an IPv6 address in brackets, as in [::1]:7337");
  }
  if (host.empty()) return fail("the host is missing in \"" + std::string(text) + "\"");
  auto port = parse_number<int>(port_text);
  if (!port || *port < 0 || *port > 65535) {
    return fail("the port must be a number from 0 to 65535, not \"" + std::string(port_text) +
                "\"");
  }
  return ListenAddress{std::string(host), *port};
}

std::string url_of(const ListenAddress& address) {
  const bool ipv6 = address.host.find(':') != std::string::npos;
  std::string host = ipv6 ? "[" + address.host + "]" : address.host;
  return "http://" + host + ":" + std::to_string(address.port);
}

Result<Options> parse_options(const std::vector<std::string>& args) {
  Options options;
  // Help and version win wherever they stand, whatever else the line holds: someone who
  // asks for them gets them, not a complaint about another word.
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-h" || args[i] == "--help") {
      options.action = Action::Help;
      return options;
    }
    if (args[i] == "--version") options.action = Action::Version;
  }
  if (options.action == Action::Version) return options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::size_t equals = arg.find('=');
    std::string name = arg.substr(0, equals);
    auto setter = value_options().find(name);
    if (setter == value_options().end()) {
      if (arg.rfind("-", 0) == 0) return fail("unknown option " + name);
      return fail("unexpected argument \"" + arg + "\"");
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return fail(name + " needs a value");
    }
    if (Status set = setter->second(options, value); !set) return fail(set.error());
  }
  return options;
}

Mode effective_mode(std::optional<Mode> chosen, bool stdin_is_terminal) {
  if (chosen) return *chosen;
  return stdin_is_terminal ? Mode::Ask : Mode::Passthrough;
}

std::string usage_text() {
  return R"(Usage: ombrel-devserver [options]

A stand-in for the Ombrel desktop app's local server: shows what the agents' hooks report,
answers their approval requests and keeps the tmux sessions registered by ombrel run.

Options:
  --listen HOST:PORT   address to listen on (default 127.0.0.1:7337; port 0 picks a free
                       port). The first line on stdout names the address in use.
  --events FILE        append every state report to FILE, one JSON object per line
  --decide MODE        how approval requests are answered:
                         ask          prompt on this terminal (default when stdin is one)
                         allow        allow every request
                         deny         deny every request
                         passthrough  hand the decision back to the agent (default when
                                      stdin is not a terminal)
  --deny-tool NAME     always deny the tool NAME (exact name; repeat for more tools)
  --answer N           answer AskUserQuestion with option N (1 is the first option)
  -h, --help           show this help
  --version            show the version

At the prompt: y = allow, n [message] = deny (the message goes to the agent),
p = passthrough, or an option number for a question (1 is the first option).
SIGINT or SIGTERM stops the server; approvals still waiting are released without a decision.
)";
}

}  // namespace ombrel::devserver
