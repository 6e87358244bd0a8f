// ombrel-run (installed also as "ombrel"): `ombrel run <tool> [args...]` starts the tool
// inside a new tmux session named om-XXXXXXXX, registers that session with the desktop so
// it can be driven remotely, and afterwards prints how to re-attach or resume.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge.hpp"
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

[[noreturn]] void exit_usage() {
  print_error("用法: ombrel run <tool> [args...]\n示例: ombrel run claude\n");
  std::exit(code(ExitCode::kUsage));
}

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
  return entries;
}

int launch(const std::string& tool, const std::vector<std::string>& args) {
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

  auto tmux =
      run_console(tmux_session_command(session, environment_entries(), cwd.raw, *command, args));
  if (!tmux) {
    print_error("[ombrel] 启动 tmux 失败: " + tmux.error() + "\n");
    return code(ExitCode::kTmuxFailed);
  }
  print_resume_hint(session, tool, runner);
  // A tmux client ended by a signal (its terminal closed) leaves the session running.
  return tmux.value().signaled ? code(ExitCode::kSuccess) : tmux.value().code;
}

}  // namespace
}  // namespace ombrel::launcher

int main(int argc, char** argv) {
  using namespace ombrel::launcher;
  // Inherited SIGCHLD=SIG_IGN would make the kernel reap our children before we can read
  // their exit status, and every probe and tmux itself would look failed.
  std::signal(SIGCHLD, SIG_DFL);
  std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  const std::size_t tool_index = !words.empty() && words[0] == "run" ? 1 : 0;
  if (words.size() <= tool_index) exit_usage();
  const std::vector<std::string> args(words.begin() + static_cast<long>(tool_index) + 1,
                                      words.end());
  return launch(words[tool_index], args);
}
