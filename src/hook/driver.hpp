// One invocation of the hook, from the command line and stdin to the agent's answer.
// Everything that touches the outside goes through the Platform, so the whole road can be
// driven by tests and by the fuzzer.
#pragma once

#include <string>
#include <vector>

#include "platform.hpp"

namespace ombrel::hook {

struct RunOutcome {
  int status = 0;
  // The permission path ends the process at once: a worker may still be blocked in its
  // request, and nothing is buffered that needs flushing.
  bool exit_now = false;
};

RunOutcome run(Platform& platform, const std::vector<std::string>& args);

struct PermissionInput {
  std::string cli_source;  // the --source option as given, before the Cursor correction
  std::string source;
  std::string raw_event;
  Json payload;
  std::string server;
  std::string log_path;
};

struct PermissionOutcome {
  Status status;                // an error goes back to the driver
  std::optional<int> exit_now;  // the answer is out: end the process with this status
};

// Asks the desktop for the user's decision and answers the agent in its own dialect.
PermissionOutcome handle_permission(Platform& platform, PermissionInput in);

}  // namespace ombrel::hook
