// One entry point per operation over an agent's single configuration file, whatever its
// format (JSON or TOML); Cline's scripts are handled per event file by the plan.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agents.hpp"
#include "common/result.hpp"
#include "entries.hpp"

namespace ombrel::setup {

Result<std::vector<Entry>> find_entries(const Agent& agent, std::string_view text);
Result<std::string> wired_text(const Agent& agent, std::string_view text,
                               std::string_view hook_path);
Result<std::string> unwired_text(const Agent& agent, std::string_view text);
// Whether two texts hold the same settings (member order included), whatever their layout.
bool same_settings(const Agent& agent, std::string_view a, std::string_view b);
// The text of a file that holds nothing but what setup would start a new file with.
bool only_skeleton(const Agent& agent, std::string_view text);

}  // namespace ombrel::setup
