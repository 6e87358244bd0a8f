#include "front.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/version.hpp"
#include "handoff.hpp"
#include "launch.hpp"

namespace ombrel::launcher {
namespace {

std::string_view base_name(const char* argv0) {
  const std::string_view path = argv0 != nullptr ? argv0 : "";
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool is_front_command(const char* argv0, std::string_view word) {
  return base_name(argv0) == "ombrel" && (word == "setup" || word == "doctor" || word == "help");
}

int exec_front_command(const std::vector<std::string>& words, const char* argv0) {
  auto self = own_executable(argv0);
  std::string why = self ? "" : self.error(), program = "ombrel-setup";
  if (self) {
    program = self.value().substr(0, self.value().rfind('/') + 1) + "ombrel-setup";
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> own = words;
    for (auto& word : own) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    why = std::strerror(errno);
  }
  const std::string line = "[ombrel] 无法运行 " + program + ": " + why + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return static_cast<int>(ExitCode::kToolNotFound);
}

std::string help_text() {
  return "Usage: ombrel run TOOL [ARGS...]  (or ombrel-run TOOL [ARGS...])\n"
         "  Starts TOOL in a new tmux session that the Ombrel desktop can see and drive,\n"
         "  and afterwards says how to re-attach or resume.\n"
         "  ombrel setup [AGENT...]   wire the coding agents' hooks (ombrel help: all options)\n"
         "  ombrel doctor             check the wiring and the desktop\n"
         "  ombrel --version\n"
         "Exit status: 2 usage, 1 tmux missing or not startable, 127 TOOL not found, else tmux's.\n"
         "Environment: OMBREL_SERVER (default http://127.0.0.1:7337). See docs/launcher.md.\n";
}

std::string version_text(const char* argv0) {
  const std::string_view name = base_name(argv0) == "ombrel" ? "ombrel" : "ombrel-run";
  return std::string(name) + " " + std::string(kVersion) + "\n";
}

}  // namespace ombrel::launcher
