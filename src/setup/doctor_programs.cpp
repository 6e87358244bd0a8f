#include "doctor_programs.hpp"

#include "common/utf8.hpp"

namespace ombrel::doctor {
namespace {

constexpr std::string_view kReinstall = "reinstall Ombrel so that ombrel-hook sits beside ombrel";

std::string first_line(std::string_view text) {
  return utf8::lossy(utf8::trim(text.substr(0, text.find('\n'))));
}

}  // namespace

Check check_hook(const Result<std::string>& resolved, launcher::ProcessRunner& runner,
                 std::string_view own_version) {
  const std::string name = "ombrel-hook";
  if (!resolved) return failure(name, resolved.error(), std::string(kReinstall));
  const std::string& path = resolved.value();
  auto ran = runner.run(launcher::Command{{path, "--version"}, std::nullopt});
  if (!ran)
    return failure(name, path + " cannot be started: " + ran.error(), std::string(kReinstall));
  const launcher::Captured& out = ran.value();
  if (out.timed_out) {
    return failure(name, path + " did not answer --version in time", std::string(kReinstall));
  }
  if (!out.status.success()) {
    const std::string how = out.status.signaled ? "was killed by signal " : "exited with status ";
    return failure(name, path + " --version " + how + std::to_string(out.status.code),
                   std::string(kReinstall));
  }
  constexpr std::string_view kPrefix = "ombrel-hook ";
  const std::string said = first_line(out.out);
  if (said.rfind(kPrefix, 0) != 0) {
    return failure(name, path + " is not ombrel-hook (it says \"" + said + "\")",
                   std::string(kReinstall));
  }
  const std::string version = said.substr(kPrefix.size());
  if (version != own_version) {
    return failure(name,
                   path + " is version " + version + ", this program " + std::string(own_version),
                   "reinstall Ombrel so that both come from the same release");
  }
  return pass(name, path + " (" + version + ")");
}

Check check_tmux(bool available) {
  if (available) return pass("tmux", "found");
  return failure("tmux", "not found: `ombrel run` starts agents inside tmux",
                 "install tmux (macOS: brew install tmux; Debian, Ubuntu: apt install tmux)");
}

Check check_inside_tmux(bool inside) {
  return info("inside tmux", inside ? "yes (TMUX is set)" : "no");
}

}  // namespace ombrel::doctor
