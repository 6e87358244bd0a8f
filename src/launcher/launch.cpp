#include "launch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if OMBREL_HAVE_GETENTROPY
#include <sys/random.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bridge.hpp"
#include "terminal.hpp"
#include "text.hpp"

namespace ombrel::launcher {
namespace {

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

bool read_urandom(unsigned char* buf, std::size_t size) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t got = 0;
  while (got < size) {
    ssize_t r = read(fd, buf + got, size - got);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
    } else if (r == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return got == size;
}

bool os_random(unsigned char* buf, std::size_t size) {
#if OMBREL_HAVE_GETENTROPY
  if (getentropy(buf, size) == 0) return true;
#endif
  return read_urandom(buf, size);
}

}  // namespace

bool tmux_available(std::span<const char* const> fixed_paths, ProcessRunner& runner) {
  struct stat st;
  for (const char* path : fixed_paths) {
    if (stat(path, &st) == 0) return true;
  }
  auto version = runner.run({{"tmux", "-V"}, std::nullopt});
  return version && version.value().status.success();
}

bool is_executable_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

std::optional<std::string> find_on_path(std::string_view word, std::string_view path_list,
                                        bool (*skip)(std::string_view)) {
  for (;;) {
    const std::size_t colon = path_list.find(':');
    std::string dir(path_list.substr(0, colon));
    std::string candidate = dir.empty()         ? std::string(word)
                            : dir.back() == '/' ? dir + std::string(word)
                                                : dir + "/" + std::string(word);
    if ((skip == nullptr || !skip(candidate)) && is_executable_file(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    path_list.remove_prefix(colon + 1);
  }
}

std::optional<std::string> resolve_tool_command(const std::string& tool) {
  const char* path = std::getenv("PATH");
  if (running_under_wsl() && tool == "codex") {
    // A Windows codex under /mnt/<drive>/ would run outside Linux, without our session.
    if (path == nullptr) return std::nullopt;
    return find_on_path(tool, path, is_wsl_windows_interop_path);
  }
  if (tool.find_first_of("/\\") != std::string::npos) {
    if (is_executable_file(tool)) return tool;
    return std::nullopt;
  }
  if (path == nullptr || !find_on_path(tool, path)) return std::nullopt;
  return tool;
}

std::string short_id() {
  unsigned char bytes[4];
  if (!os_random(bytes, sizeof bytes)) {
    // No random source at all: mix clock and pid so that two launches still differ.
    auto x = static_cast<std::uint64_t>(
                 std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
             (static_cast<std::uint64_t>(getpid()) << 32);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    x ^= x >> 31;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(x >>= 8);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 0xF];
  }
  return id;
}

WorkingDir current_working_dir() {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(buf.find('\0'));
      return {buf, utf8::lossy(buf)};
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) return {".", "."};
    buf.resize(buf.size() * 2);
  }
}

std::vector<std::string> session_environment(const std::vector<std::string>& environment) {
  std::vector<std::string> out;
  for (const std::string& entry : environment) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;  // not an assignment
    const std::string_view name = std::string_view(entry).substr(0, eq);
    if (name == "TMUX" || name == "TMUX_PANE") continue;
    out.push_back(entry);
  }
  return out;
}

std::vector<std::string> tmux_session_command(std::string_view session, std::string_view cwd,
                                              const std::vector<std::string>& pane_command,
                                              bool detached) {
  std::vector<std::string> argv = {
      "tmux", "new-session",   detached ? "-d" : "-A", "-s", std::string(session),
      "-c",   std::string(cwd)};
  argv.insert(argv.end(), pane_command.begin(), pane_command.end());
  return argv;
}

std::optional<std::string> extract_ai_session_id(std::string_view body) {
  constexpr std::string_view kKey = "\"ai_session_id\"";
  const std::size_t key = body.find(kKey);
  if (key == std::string_view::npos) return std::nullopt;
  const std::size_t colon = body.find(':', key + kKey.size());
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view rest = utf8::trim_start(body.substr(colon + 1));
  if (rest.empty() || rest.front() != '"') return std::nullopt;
  const std::size_t close = rest.find('"', 1);
  if (close == std::string_view::npos || close == 1) return std::nullopt;
  return std::string(rest.substr(1, close - 1));
}

bool is_safe_session_id(std::string_view id) {
  constexpr std::string_view kPunctuation = "._:@+-";
  if (id.empty() || id.size() > 200) return false;
  for (char c : id) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && kPunctuation.find(c) == std::string_view::npos) return false;
  }
  return true;
}

std::string resume_hint_text(std::string_view tool, std::string_view id) {
  const std::string i(id);
  std::string text = "\n[ombrel] 会话 id：" + i + "\n";
  if (tool.find("claude") != std::string_view::npos) {
    text += "[ombrel] 恢复此会话：\n";
    text += "    claude --resume " + i + "\n";
    text += "    ombrel run claude --resume " + i + "   # 恢复并保留远程控制\n";
  }
  return text;
}

std::string detached_hint_text(std::string_view session, bool inside_tmux) {
  const std::string name(session);
  if (inside_tmux) {
    return "\n[ombrel] 已离开，会话仍在后台运行（手机仍可远程控制）。\n    tmux switch-client -t " +
           name + "   # 切换回去\n";
  }
  return "\n[ombrel] 已分离，会话仍在后台运行（手机仍可远程控制）。\n    tmux attach -t " + name +
         "   # 重新连接\n";
}

bool session_alive(std::string_view session, ProcessRunner& runner) {
  // "=" makes tmux match the name exactly instead of as a prefix.
  auto has = runner.run({{"tmux", "has-session", "-t", "=" + std::string(session)}, std::nullopt});
  return has && has.value().status.success();
}

void print_resume_hint(std::string_view session, std::string_view tool, bool alive,
                       bool inside_tmux, ProcessRunner& runner) {
  if (alive) {
    print(stdout, detached_hint_text(session, inside_tmux));
    return;
  }
  auto body = post_json(server_base_url() + "/tmux/lookup",
                        "{\"tmux_name\":" + json_string(session) + "}", runner);
  if (!body) return;
  auto id = extract_ai_session_id(body.value());
  if (id && is_safe_session_id(*id)) print(stdout, resume_hint_text(tool, *id));
}

}  // namespace ombrel::launcher
