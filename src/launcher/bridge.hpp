// How the launcher reaches the desktop server: its own small HTTP/1.1 client, the single
// retry through Windows curl.exe under WSL, and the environment adjustments that WSL
// needs so that Windows programs inside the session see the session name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "process.hpp"

namespace ombrel::launcher {

inline constexpr std::string_view kDefaultServer = "http://127.0.0.1:7337";
// Every request's connect, write and read are each bounded by this.
inline constexpr int kHttpTimeoutMillis = 2000;
// A registration or lookup answer is tiny; anything beyond this is refused.
inline constexpr std::size_t kMaxResponseBytes = 1 << 20;

// OMBREL_SERVER verbatim when set and valid UTF-8 (even empty), else the default.
std::string server_base_url();

struct ParsedUrl {
  std::string host;  // as written, brackets of an IPv6 literal included
  std::uint16_t port = 80;
  std::string path;  // from the first "/" after the authority, query untouched; "/" if none
};
// Only "http://" URLs; the error says why the URL is unusable.
Result<ParsedUrl> parse_http_url(std::string_view url);
// The whole request: POST line, Host with the port always written, JSON body.
std::string http_request_text(const ParsedUrl& url, std::string_view body);
// The body after the header block of a 2xx response (empty when there is none), not
// decoded; otherwise the error is the status line, or "no response" for no bytes at all.
Result<std::string> response_body(std::string_view response);

// One plain-socket POST; the error is a text for the user.
Result<std::string> post_json_direct(std::string_view url, std::string_view body);
// post_json_direct, retried once through curl.exe under WSL; the error then carries both.
Result<std::string> post_json(std::string_view url, std::string_view body, ProcessRunner& runner);

// True when WSL_DISTRO_NAME or WSL_INTEROP is present, whatever its value.
bool running_under_wsl();
// WSLENV without empty entries or any OM_TMUX_SESSION entry, then "OM_TMUX_SESSION/w".
std::string wslenv_with_om_tmux_session(std::optional<std::string_view> current);
// The CODEX_HOME codex needs under WSL, or nothing when the current one may stay (a Linux
// path) or HOME is unknown.
std::optional<std::string> wsl_codex_home(std::optional<std::string_view> home,
                                          std::optional<std::string_view> codex_home);
// For the tool "codex", sets CODEX_HOME in our own environment by wsl_codex_home.
void normalize_wsl_tool_env(std::string_view tool);
// True for paths on a Windows drive mounted under /mnt/<letter>/, either slash.
bool is_wsl_windows_interop_path(std::string_view path);

}  // namespace ombrel::launcher
