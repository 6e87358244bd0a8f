// The rows of one agent: installed, wired (every event setup wires, every file readable),
// the hook path current, the permission hooks' timeouts long enough and, for Codex, whether
// it trusts our hooks yet. Built from setup's reading of what is wired, so doctor and setup
// recognise our entries the same way.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"
#include "doctor_check.hpp"
#include "wiring_state.hpp"

namespace ombrel::doctor {

// What Codex has stored about trust, when the agent is Codex (else nothing): the trusted
// hashes by key, or why config.toml could not be read.
using CodexTrust = std::optional<Result<std::map<std::string, std::string>>>;

// hook: the hook setup would wire now, when it was found.
std::vector<Check> agent_checks(const setup::WiringState& state,
                                const std::optional<std::string>& hook, const CodexTrust& trust);

// The seconds a permission hook needs: 600, or the agent's maximum when that is lower.
double needed_permission_seconds(const setup::Agent& agent);

}  // namespace ombrel::doctor
