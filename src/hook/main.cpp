// ombrel-hook: started by a coding agent once per hook event, with the event's JSON on
// stdin. Reports the event to the desktop, or asks the desktop for a decision and answers
// the agent in its own dialect. Whatever fails, the agent gets a harmless answer.
#include <unistd.h>

#include <string>
#include <vector>

#include "driver.hpp"
#include "runtime.hpp"

int main(int argc, char** argv) {
  // Before anything else: these signals must never end the hook on their own.
  ombrel::hook::install_signal_handlers();
  // Before anything is opened, so that the agent's answer cannot end up in the log.
  ombrel::hook::open_missing_standard_streams();
  ombrel::hook::PosixPlatform platform;
  auto outcome = ombrel::hook::run(platform, std::vector<std::string>(argv, argv + argc));
  if (outcome.exit_now) _exit(outcome.status);
  return outcome.status;
}
