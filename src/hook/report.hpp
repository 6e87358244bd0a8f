// The state report: every non-blocking event is told to the desktop with one POST /state
// (fire and forget, 5 s limit), then the agent gets its default answer, if it has one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "json_text.hpp"
#include "platform.hpp"

namespace ombrel::hook {

struct ReportInput {
  std::string source;
  std::string raw_event;
  Json payload;
  std::string server;
  std::string log_path;
};

// The 14-member body; writes the report's trace lines to the debug log.
Json build_state_report(const ReportInput& in, Json tool_input);
// Builds, posts and answers. Fails only when the default answer cannot be written.
Status send_state_report(Platform& platform, ReportInput in);

}  // namespace ombrel::hook
