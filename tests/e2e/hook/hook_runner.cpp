#include "hook_runner.hpp"

#include <cstdlib>
#include <regex>

namespace ombrel::test {

namespace {

// The suite runs against the hook of its own build unless OMBREL_TEST_HOOK names another one:
// scripts/test runs it again against the release build, the program users install.
std::string hook_path() {
  const char* other = std::getenv("OMBREL_TEST_HOOK");
  return other != nullptr && *other != '\0' ? other : OMBREL_HOOK_PATH;
}

}  // namespace

HookRun::HookRun() {
  options_.argv = {hook_path()};
  options_.env = Environment::current()
                     .set("HOME", home_.str())
                     .set("OMBREL_HOOK_LOG", (home_.path() / "hook.log").string())
                     .unset("OMBREL_SERVER")
                     .unset("OM_TMUX_SESSION")
                     .unset("USERPROFILE");
  options_.timeout = std::chrono::milliseconds(30000);
}

HookRun& HookRun::server(const std::string& url) {
  return env("OMBREL_SERVER", url);
}

HookRun& HookRun::env(const std::string& name, const std::string& value) {
  options_.env.set(name, value);
  return *this;
}

HookRun& HookRun::unset(const std::string& name) {
  options_.env.unset(name);
  return *this;
}

HookRun& HookRun::args(std::vector<std::string> extra) {
  options_.argv.resize(1);
  options_.argv.insert(options_.argv.end(), extra.begin(), extra.end());
  return *this;
}

HookRun& HookRun::input(std::string stdin_data) {
  options_.stdin_data = std::move(stdin_data);
  return *this;
}

HookRun& HookRun::close_stdout_early() {
  options_.close_stdout_early = true;
  return *this;
}

ProcessOptions HookRun::options() const {
  return options_;
}
ProcessResult HookRun::run() const {
  return run_process(options_);
}
ChildProcess HookRun::start() const {
  return ChildProcess(options_);
}

std::string HookRun::log_path() const {
  return options_.env.get("OMBREL_HOOK_LOG").value_or((home_.path() / ".ombrel/hook.log").string());
}

std::string HookRun::log() const {
  return read_file(log_path());
}

std::vector<std::string> HookRun::log_messages() const {
  // An entry starts with "SECONDS.mmmZ "; continuation lines belong to the entry before.
  static const std::regex stamp(R"(^\d+\.\d{3}Z )");
  std::vector<std::string> messages;
  std::string content = log();
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(pos, end - pos);
    std::smatch m;
    if (std::regex_search(line, m, stamp)) {
      messages.push_back(line.substr(m.length()));
    } else if (!messages.empty()) {
      messages.back() += "\n" + line;
    }
    pos = end + 1;
  }
  return messages;
}

std::string dead_server_url() {
  return "http://127.0.0.1:" + std::to_string(unused_port());
}

}  // namespace ombrel::test
