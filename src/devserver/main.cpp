// ombrel-devserver: a stand-in for the Ombrel desktop app's local server, for development
// and demonstrations. Shows what the hooks report, answers approvals by a policy or on the
// terminal, and keeps the tmux sessions that ombrel run registers.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/version.hpp"
#include "event_line.hpp"
#include "front.hpp"
#include "line_reader.hpp"
#include "options.hpp"
#include "output.hpp"
#include "prompter.hpp"
#include "server.hpp"
#include "signals.hpp"

namespace ombrel::devserver {
namespace {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

int complain(const std::string& message, int code) {
  std::cerr << "ombrel-devserver: " << message << "\n";
  return code;
}

std::string signal_name(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGHUP) return "SIGHUP";
  return "SIGTERM";
}

int serve(const Options& options) {
  if (Status blocked = SignalWatcher::block_signals(); !blocked) {
    return complain(blocked.error(), kExitFailure);
  }
  raise_descriptor_limit();
  const bool stdin_is_terminal = ::isatty(STDIN_FILENO) == 1;
  const Policy policy{effective_mode(options.mode, stdin_is_terminal), options.deny_tools,
                      options.answer};

  std::unique_ptr<EventsFile> events;
  if (options.events_path) {
    auto opened = EventsFile::open(*options.events_path);
    if (!opened) return complain(opened.error(), kExitFailure);
    events = opened.take();
  }

  std::unique_ptr<LineReader> reader;
  if (policy.mode == Mode::Ask) {
    auto created = LineReader::create(STDIN_FILENO);
    if (!created) return complain(created.error(), kExitFailure);
    reader = created.take();
  }

  Console console(STDOUT_FILENO, stdin_is_terminal);
  DevServer server(policy, console, events.get());
  auto bound = server.bind(options.listen);
  if (!bound) return complain(bound.error(), kExitFailure);

  // Scripts and tests read the address from this first line, so it comes first and whole.
  console.line("ombrel-devserver listening on " + url_of(bound.value()));
  console.line(policy_line(policy, options.mode.has_value()));
  if (options.events_path) console.line("events: appended to " + *options.events_path);

  std::optional<Prompter> prompter;
  if (reader) {
    prompter.emplace(server.board(), console, *reader);
    prompter->start();
  }

  SignalWatcher watcher;
  watcher.start([&](int signal) {
    console.line("stopping on " + signal_name(signal));
    const std::size_t released = server.stop();
    if (released > 0) {
      console.line("released " + std::to_string(released) + " waiting approval" +
                   (released == 1 ? "" : "s") + " without a decision");
    }
  });

  Status served = server.run();
  server.stop();
  watcher.stop();
  prompter.reset();
  if (!served) return complain(served.error(), kExitFailure);
  console.line("ombrel-devserver stopped");
  return kExitOk;
}

int run(const std::vector<std::string>& args) {
  // A client or a stdout reader that goes away must not end the server.
  ::signal(SIGPIPE, SIG_IGN);

  auto parsed = parse_options(args);
  if (!parsed) {
    return complain(parsed.error() + "\nTry 'ombrel-devserver --help'.", kExitUsage);
  }
  const Options& options = parsed.value();
  switch (options.action) {
    case Action::Help:
      std::cout << usage_text();
      return kExitOk;
    case Action::Version:
      std::cout << "ombrel-devserver " << kVersion << "\n";
      return kExitOk;
    case Action::Serve:
      break;
  }
  return serve(options);
}

}  // namespace
}  // namespace ombrel::devserver

int main(int argc, char** argv) {
  return ombrel::devserver::run(std::vector<std::string>(argv, argv + argc));
}
