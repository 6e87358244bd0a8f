// ombrel-run (installed also as "ombrel"): `ombrel run <tool> [args...]` starts the tool
// inside a new tmux session named om-XXXXXXXX, registers that session with the desktop so
// it can be driven remotely, and afterwards prints how to re-attach or resume.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver.hpp"
#include "front.hpp"
#include "handoff.hpp"
#include "launch.hpp"

namespace ombrel::launcher {
namespace {

void print_error(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

int code(ExitCode c) {
  return static_cast<int>(c);
}

int print_out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

[[noreturn]] void exit_usage() {
  print_error("用法: ombrel run <tool> [args...]\n示例: ombrel run claude\n");
  std::exit(code(ExitCode::kUsage));
}

}  // namespace
}  // namespace ombrel::launcher

int main(int argc, char** argv) {
  using namespace ombrel::launcher;
  // In the new pane, tmux starts this program again as the exec step (handoff.hpp).
  if (argc == 3 && argv[1] == kExecStepWord) return run_exec_step(argv[2]);
  // Inherited SIGCHLD=SIG_IGN would make the kernel reap our children before we can read
  // their exit status, and every probe and tmux itself would look failed.
  std::signal(SIGCHLD, SIG_DFL);
  std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  const char* argv0 = argc > 0 ? argv[0] : nullptr;
  // As the only word; anywhere else they are the tool's own words.
  if (words.size() == 1 && words[0] == "--help") return print_out(help_text());
  if (words.size() == 1 && words[0] == "--version") return print_out(version_text(argv0));
  if (!words.empty() && is_front_command(argv0, words[0])) return exec_front_command(words, argv0);
  const std::size_t tool_index = !words.empty() && words[0] == "run" ? 1 : 0;
  if (words.size() <= tool_index) exit_usage();
  const std::vector<std::string> args(words.begin() + static_cast<long>(tool_index) + 1,
                                      words.end());
  return launch(words[tool_index], args, argv0);
}
