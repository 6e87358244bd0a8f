#include "inside_tmux.hpp"

#include <cstdlib>
#include <thread>

#include "launch.hpp"
#include "text.hpp"

namespace ombrel::launcher {
namespace {

// The session id and name of the client showing this pane, or nothing when the best client
// tmux finds shows another session.
constexpr const char* kCurrentClientFormat =
    "#{?#{==:#{client_session},#{session_name}},#{session_id} #{client_name},}";

// tmux's own words when it refused, else what went wrong running it.
Result<std::string> run_tmux(std::vector<std::string> args, ProcessRunner& runner) {
  args.insert(args.begin(), "tmux");
  auto run = runner.run({args, std::nullopt});
  if (!run) return fail(run.error());
  const Captured& c = run.value();
  if (c.timed_out) return fail("tmux " + args[1] + " did not answer");
  if (!c.status.success()) {
    const std::string said(utf8::trim(utf8::lossy(c.err)));
    return fail(said.empty() ? "tmux " + args[1] + " failed" : said);
  }
  return std::string(utf8::trim(utf8::lossy(c.out)));
}

}  // namespace

bool inside_tmux() {
  const char* tmux = std::getenv("TMUX");
  return tmux != nullptr && tmux[0] != '\0';
}

Result<TmuxClient> current_tmux_client(ProcessRunner& runner) {
  auto shown = run_tmux({"display-message", "-p", kCurrentClientFormat}, runner);
  if (!shown) return fail(shown.error());
  const std::string& line = shown.value();
  const std::size_t space = line.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 == line.size()) {
    return fail("no tmux client shows this pane");
  }
  return TmuxClient{line.substr(space + 1), line.substr(0, space)};
}

Status start_detached_session(std::string_view session, std::string_view cwd,
                              const std::vector<std::string>& pane_command, ProcessRunner& runner) {
  auto command = tmux_session_command(session, cwd, pane_command, true);
  command.erase(command.begin());  // run_tmux names tmux itself
  if (auto made = run_tmux(command, runner); !made) return fail(made.error());
  // Best effort: without it the user's client leaves tmux when the tool ends.
  (void)run_tmux({"set-option", "-t", "=" + std::string(session) + ":", "detach-on-destroy", "off"},
                 runner);
  return {};
}

Status switch_client(const TmuxClient& client, const std::string& target, ProcessRunner& runner) {
  if (auto moved = run_tmux({"switch-client", "-c", client.name, "-t", target}, runner); !moved) {
    return fail(moved.error());
  }
  return {};
}

void wait_until_left(const TmuxClient& client, std::string_view session, ProcessRunner& runner) {
  for (;;) {
    // A client that is gone gives no answer or an empty one; either way the user left.
    auto shown =
        run_tmux({"display-message", "-p", "-c", client.name, "#{client_session}"}, runner);
    if (!shown || shown.value() != session) return;
    std::this_thread::sleep_for(kLeavePollInterval);
  }
}

}  // namespace ombrel::launcher
