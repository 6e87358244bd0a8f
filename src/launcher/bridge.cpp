#include "bridge.hpp"

#include <chrono>
#include <cstdlib>

#include "common/http_url.hpp"
#include "net.hpp"
#include "text.hpp"

namespace ombrel::launcher {
namespace {

constexpr std::string_view kWindowsCurlPath = "/mnt/c/Windows/System32/curl.exe";

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_windows_drive_path(std::string_view p) {
  return p.size() >= 3 && is_ascii_letter(p[0]) && p[1] == ':' && (p[2] == '/' || p[2] == '\\');
}

// The fallback's own error text, or curl's output on success.
Result<std::string> post_through_windows_curl(std::string_view url, std::string_view body,
                                              ProcessRunner& runner) {
  std::string program;
  for (std::string_view candidate : {std::string_view("curl.exe"), kWindowsCurlPath}) {
    auto probe = runner.run({{std::string(candidate), "--version"}, std::nullopt});
    if (probe && probe.value().status.success()) {
      program = candidate;
      break;
    }
  }
  if (program.empty()) return fail("curl.exe not reachable from WSL");
  Command post{{program, "-sS", "--fail-with-body", "--max-time", "2", "-X", "POST", "-H",
                "Content-Type: application/json", "--data-binary", "@-", std::string(url)},
               std::string(body)};
  // curl's own --max-time ends it first and says why; this limit only catches a hung start.
  post.limit = std::chrono::milliseconds{3000};
  auto run = runner.run(post);
  if (!run) return fail("spawn " + program + ": " + run.error());
  const Captured& c = run.value();
  if (!c.input_error.empty()) return fail(c.input_error);
  if (c.status.success()) return utf8::lossy(c.out);
  return fail(std::string(utf8::trim(utf8::lossy(c.err))));
}

}  // namespace

std::string server_base_url() {
  return env_text("OMBREL_SERVER").value_or(std::string(kDefaultServer));
}

Result<ParsedUrl> parse_http_url(std::string_view url) {
  const auto parts = split_http_url(url);
  if (!parts) return fail("only http:// URLs supported");
  if (has_control_or_space(url)) return fail("server URL holds a control character or a space");
  ParsedUrl parsed{std::string(parts->host), 80, std::string(parts->path)};
  if (parts->port) {
    auto port = parse_u16(*parts->port);
    if (!port) return fail(port.error());
    parsed.port = port.value();
  }
  return parsed;
}

std::string http_request_text(const ParsedUrl& url, std::string_view body) {
  std::string text = "POST " + url.path + " HTTP/1.1\r\n";
  text += "Host: " + url.host + ":" + std::to_string(url.port) + "\r\n";
  text += "Content-Type: application/json\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += "Connection: close\r\n\r\n";
  text += body;
  return text;
}

Result<std::string> response_body(std::string_view response) {
  if (response.empty()) return fail("no response");
  std::string_view line = response.substr(0, response.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  auto word = nth_word(line, 1);
  auto status = word ? parse_u16(*word) : Result<std::uint16_t>(fail(""));
  if (!status || status.value() < 200 || status.value() > 299) return fail(std::string(line));
  const std::size_t head_end = response.find("\r\n\r\n");
  if (head_end == std::string_view::npos) return std::string();
  return std::string(response.substr(head_end + 4));
}

Result<std::string> post_json_direct(std::string_view url, std::string_view body) {
  auto parsed = parse_http_url(url);
  if (!parsed) return fail(parsed.error());
  const Millis limit(kHttpTimeoutMillis);
  auto fd = connect_with_timeout(parsed.value().host, parsed.value().port, limit);
  if (!fd) return fail(fd.error());
  if (auto sent = send_all(fd.value().get(), http_request_text(parsed.value(), body), limit);
      !sent) {
    return fail(sent.error());
  }
  auto response = read_to_close(fd.value().get(), limit, kMaxResponseBytes);
  if (!response) return fail(response.error());
  if (!utf8::is_valid(response.value())) return fail("stream did not contain valid UTF-8");
  return response_body(response.value());
}

Result<std::string> post_json(std::string_view url, std::string_view body, ProcessRunner& runner) {
  auto direct = post_json_direct(url, body);
  if (direct || !running_under_wsl()) return direct;
  auto fallback = post_through_windows_curl(url, body, runner);
  if (fallback) return fallback;
  return fail(direct.error() + "; curl.exe fallback: " + fallback.error());
}

bool running_under_wsl() {
  return std::getenv("WSL_DISTRO_NAME") != nullptr || std::getenv("WSL_INTEROP") != nullptr;
}

std::string wslenv_with_om_tmux_session(std::optional<std::string_view> current) {
  std::string out;
  std::string_view rest = current.value_or("");
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    std::string_view entry = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    // Our own entry is dropped whatever flags it had, so "/w" is not overridden by a stale one.
    if (entry.empty() || entry.substr(0, entry.find('/')) == "OM_TMUX_SESSION") continue;
    out.append(entry).append(":");
  }
  return out + "OM_TMUX_SESSION/w";
}

std::optional<std::string> wsl_codex_home(std::optional<std::string_view> home,
                                          std::optional<std::string_view> codex_home) {
  if (!home) return std::nullopt;
  // A Windows-style CODEX_HOME inherited from the Windows side is unusable for the Linux codex.
  if (codex_home && !is_windows_drive_path(*codex_home)) return std::nullopt;
  return std::string(*home) + "/.codex";
}

void normalize_wsl_tool_env(std::string_view tool) {
  if (tool != "codex") return;
  auto home = env_text("HOME");
  auto codex_home = env_text("CODEX_HOME");
  if (auto value = wsl_codex_home(home, codex_home)) setenv("CODEX_HOME", value->c_str(), 1);
}

bool is_wsl_windows_interop_path(std::string_view path) {
  std::string text = utf8::lossy(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text.size() >= 8 && text.compare(0, 5, "/mnt/") == 0 && is_ascii_letter(text[5]) &&
         text[6] == '/';
}

}  // namespace ombrel::launcher
