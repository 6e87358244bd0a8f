#include "terminal.hpp"

#include <unistd.h>

#include <array>
#include <cstdio>

#include "bridge.hpp"
#include "text.hpp"

namespace ombrel::launcher {
namespace {

constexpr std::size_t kMaxChain = 8;

constexpr std::array<std::string_view, 13> kKnownTerminalApps = {
    "Terminal", "iTerm", "iTerm2",  "Warp", "WezTerm", "Alacritty", "kitty",
    "Hyper",    "Tabby", "Ghostty", "Code", "Cursor",  "Windsurf"};

// Standard output of a probe that succeeded, decoded and trimmed; nothing otherwise.
std::optional<std::string> probe(ProcessRunner& runner, std::vector<std::string> argv) {
  auto run = runner.run({std::move(argv), std::nullopt});
  if (!run || !run.value().status.success()) return std::nullopt;
  return std::string(utf8::trim(utf8::lossy(run.value().out)));
}

std::optional<std::string> non_empty_env(const char* name) {
  auto value = env_text(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::string json_optional(const std::optional<std::string>& text) {
  return text ? json_string(*text) : "null";
}

}  // namespace

std::optional<std::uint32_t> parent_pid(std::uint32_t pid, ProcessRunner& runner) {
  auto out = probe(runner, {"ps", "-o", "ppid=", "-p", std::to_string(pid)});
  return out ? parse_u32(*out) : std::nullopt;
}

std::vector<std::uint32_t> pid_chain(std::uint32_t pid, ProcessRunner& runner) {
  std::vector<std::uint32_t> chain{pid};
  while (chain.size() < kMaxChain) {
    auto parent = parent_pid(chain.back(), runner);
    if (!parent || *parent < 2 || *parent == chain.back()) break;
    chain.push_back(*parent);
  }
  return chain;
}

std::optional<std::string> controlling_tty(std::uint32_t pid, ProcessRunner& runner) {
  auto out = probe(runner, {"ps", "-o", "tty=", "-p", std::to_string(pid)});
  if (!out || out->empty() || *out == "?" || *out == "??") return std::nullopt;
  return out;
}

std::optional<std::string> macos_process_name(std::uint32_t pid, ProcessRunner& runner) {
  const std::string script =
      "tell application \"System Events\"\n"
      "    set pList to every process whose unix id is " +
      std::to_string(pid) +
      "\n"
      "    if (count of pList) > 0 then return name of item 1 of pList\n"
      "    return \"\"\n"
      "end tell";
  auto out = probe(runner, {"osascript", "-e", script});
  if (!out || out->empty()) return std::nullopt;
  return out;
}

bool is_known_terminal_app(std::string_view name) {
  for (std::string_view known : kKnownTerminalApps) {
    if (ascii::iequals(name, known)) return true;
  }
  return false;
}

std::optional<std::string> terminal_app_from_env(std::optional<std::string_view> term_program,
                                                 std::optional<std::string_view> bundle_id) {
  const std::string term = ascii::lower(term_program.value_or(""));
  const std::string bundle = ascii::lower(bundle_id.value_or(""));
  auto contains = [&](std::string_view word) { return term.find(word) != std::string::npos; };
  if (term == "tabby" || bundle == "org.tabby") return "Tabby";
  if (term == "apple_terminal" || bundle == "com.apple.terminal") return "Terminal";
  if (term == "iterm.app" || bundle == "com.googlecode.iterm2") return "iTerm2";
  if (contains("warp")) return "Warp";
  if (contains("wezterm")) return "WezTerm";
  if (contains("vscode") || bundle == "com.microsoft.vscode") return "Code";
  return std::nullopt;
}

LauncherTerminalMeta collect_launcher_terminal_meta(ProcessRunner& runner) {
  LauncherTerminalMeta meta;
  meta.pid = static_cast<std::uint32_t>(getpid());
  meta.parent_pid = parent_pid(meta.pid, runner);
  meta.pid_chain = pid_chain(meta.pid, runner);
  meta.tty = controlling_tty(meta.pid, runner);
  meta.term_program = non_empty_env("TERM_PROGRAM");
  meta.bundle_id = non_empty_env("__CFBundleIdentifier");
  if (meta.parent_pid) {
    // The app is sent as osascript printed it: the desktop matches on its own spelling.
    for (std::uint32_t ancestor : pid_chain(*meta.parent_pid, runner)) {
      auto name = macos_process_name(ancestor, runner);
      if (name && is_known_terminal_app(*name)) {
        meta.terminal_app = name;
        meta.terminal_pid = ancestor;
        break;
      }
    }
  }
  if (!meta.terminal_app)
    meta.terminal_app = terminal_app_from_env(meta.term_program, meta.bundle_id);
  return meta;
}

std::string json_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : utf8::lossy(text)) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string json_u32(std::optional<std::uint32_t> value) {
  return value ? std::to_string(*value) : "null";
}

std::string registration_body(std::string_view session, std::string_view tool, std::string_view cwd,
                              const LauncherTerminalMeta& meta) {
  std::string chain;
  for (std::uint32_t pid : meta.pid_chain) {
    if (!chain.empty()) chain += ",";
    chain += std::to_string(pid);
  }
  return "{\"tmux_name\":" + json_string(session) + ",\"tool\":" + json_string(tool) +
         ",\"cwd\":" + json_string(cwd) + ",\"launcher_pid\":" + std::to_string(meta.pid) +
         ",\"launcher_parent_pid\":" + json_u32(meta.parent_pid) +
         ",\"launcher_tty\":" + json_optional(meta.tty) +
         ",\"launcher_term_program\":" + json_optional(meta.term_program) +
         ",\"launcher_bundle_id\":" + json_optional(meta.bundle_id) +
         ",\"launcher_terminal_app\":" + json_optional(meta.terminal_app) +
         ",\"launcher_terminal_pid\":" + json_u32(meta.terminal_pid) + ",\"launcher_pid_chain\":[" +
         chain + "],\"launcher_terminal_hwnd\":null}";
}

void register_with_desktop(std::string_view session, std::string_view tool, std::string_view cwd,
                           const LauncherTerminalMeta& meta, ProcessRunner& runner) {
  auto sent = post_json(server_base_url() + "/tmux/register",
                        registration_body(session, tool, cwd, meta), runner);
  if (!sent) {
    std::string line =
        "[ombrel] 提示: 未能注册到桌面端 (" + sent.error() + ")，会话仍会启动但暂不可远程控制。\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
}

}  // namespace ombrel::launcher
