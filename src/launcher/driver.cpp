#include "driver.hpp"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "bridge.hpp"
#include "handoff.hpp"
#include "inside_tmux.hpp"
#include "launch.hpp"
#include "process.hpp"
#include "terminal.hpp"
#include "text.hpp"

extern char** environ;

namespace ombrel::launcher {
namespace {

void print_error(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

int code(ExitCode c) {
  return static_cast<int>(c);
}

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  return entries;
}

// Everything a started session shares once its client is back: the exec step's failure,
// else the hint. The directory stays for a live session, whose exec step removes it.
std::optional<int> finish(std::string_view session, const std::string& tool, bool alive,
                          bool inside, HandoffDir& dir, ProcessRunner& runner) {
  if (auto why = dir.exec_error()) {
    print_error("[ombrel] 启动 " + tool + " 失败: " + *why + "\n");
    return code(ExitCode::kToolNotFound);
  }
  if (alive) dir.release();
  print_resume_hint(session, tool, alive, inside, runner);
  return std::nullopt;
}

int run_attached(const std::string& session, const std::string& tool, const WorkingDir& cwd,
                 const std::vector<std::string>& pane, HandoffDir& dir, ProcessRunner& runner) {
  auto tmux = run_console(tmux_session_command(session, cwd.raw, pane, false));
  if (!tmux) {
    print_error("[ombrel] 启动 tmux 失败: " + tmux.error() + "\n");
    return code(ExitCode::kTmuxFailed);
  }
  if (auto ended = finish(session, tool, session_alive(session, runner), false, dir, runner)) {
    return *ended;
  }
  // A tmux client ended by a signal (its terminal closed) leaves the session running.
  return tmux.value().signaled ? code(ExitCode::kSuccess) : tmux.value().code;
}

int run_switched(const std::string& session, const std::string& tool, const WorkingDir& cwd,
                 const std::vector<std::string>& pane, const TmuxClient& client, HandoffDir& dir,
                 ProcessRunner& runner) {
  if (auto started = start_detached_session(session, cwd.raw, pane, runner); !started) {
    print_error("[ombrel] 启动 tmux 失败: " + started.error() + "\n");
    return code(ExitCode::kTmuxFailed);
  }
  int status = code(ExitCode::kSuccess);
  if (auto moved = switch_client(client, "=" + session, runner)) {
    wait_until_left(client, session, runner);
  } else if (session_alive(session, runner)) {  // else the tool ended at once: finish says why
    print_error("[ombrel] 无法切换到新会话: " + moved.error() + "\n");
    status = code(ExitCode::kTmuxFailed);
  }
  const bool alive = session_alive(session, runner);
  // tmux moved the client to its most recently active session; the user came from ours.
  if (!alive) (void)switch_client(client, client.origin, runner);
  if (auto ended = finish(session, tool, alive, true, dir, runner)) return *ended;
  return status;
}

}  // namespace

int launch(const std::string& tool, const std::vector<std::string>& args, const char* argv0) {
  PosixProcessRunner runner;
  if (!tmux_available(kTmuxPaths, runner)) {
    print_error("[ombrel] 未找到 tmux。请先安装：\n    brew install tmux\n");
    return code(ExitCode::kTmuxFailed);
  }
  const auto command = resolve_tool_command(tool);
  if (!command) {
    print_error("[ombrel] 无法运行 “" + tool + "”：未在 PATH 中找到该命令。\n" +
                "    请确认工具名拼写正确且已安装（可用 `which " + tool + "` 检查）。\n");
    return code(ExitCode::kToolNotFound);
  }
  // Whatever cannot work is said before the desktop hears of a session.
  std::optional<TmuxClient> client;
  if (inside_tmux()) {
    auto found = current_tmux_client(runner);
    if (!found) {
      print_error("[ombrel] 当前在 tmux 中，但无法切换到新会话: " + found.error() +
                  "\n    请在 tmux 之外运行 ombrel run。\n");
      return code(ExitCode::kTmuxFailed);
    }
    client = found.value();
  }
  auto self = own_executable(argv0);
  auto dir = self ? HandoffDir::create(handoff_parent()) : Result<HandoffDir>(fail(self.error()));
  if (!dir) {
    print_error("[ombrel] 准备会话环境失败: " + dir.error() + "\n");
    return code(ExitCode::kTmuxFailed);
  }
  const std::string session = "om-" + short_id();
  const WorkingDir cwd = current_working_dir();

  // Registered before tmux starts, so the desktop knows the name before any hook reports it.
  register_with_desktop(session, tool, cwd.text, collect_launcher_terminal_meta(runner), runner);

  setenv("OM_TMUX_SESSION", session.c_str(), 1);
  if (running_under_wsl()) {
    const char* wslenv = std::getenv("WSLENV");
    std::optional<std::string_view> current;
    if (wslenv != nullptr && utf8::is_valid(wslenv)) current = wslenv;
    setenv("WSLENV", wslenv_with_om_tmux_session(current).c_str(), 1);
    normalize_wsl_tool_env(tool);
  }

  Handoff handoff{{*command}, session_environment(environment_entries())};
  handoff.argv.insert(handoff.argv.end(), args.begin(), args.end());
  if (auto written = dir.value().write(encode_handoff(handoff)); !written) {
    print_error("[ombrel] 准备会话环境失败: " + written.error() + "\n");
    return code(ExitCode::kTmuxFailed);
  }
  const std::vector<std::string> pane = {self.value(), std::string(kExecStepWord),
                                         dir.value().path()};
  return client ? run_switched(session, tool, cwd, pane, *client, dir.value(), runner)
                : run_attached(session, tool, cwd, pane, dir.value(), runner);
}

}  // namespace ombrel::launcher
