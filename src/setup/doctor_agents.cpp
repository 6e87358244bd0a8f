#include "doctor_agents.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "doctor_codex_trust.hpp"

namespace ombrel::doctor {
namespace {

Check row(const setup::WiringState& state, Check check) {
  check.subject = std::string(state.agent->name);
  return check;
}

std::string setup_command(const setup::Agent& agent) {
  return "run `ombrel setup " + std::string(agent.name) + "`";
}

// Codex takes any edit of a hook for a new one, which must be trusted again.
std::string trust_again(const setup::Agent& agent) {
  return agent.name == "codex" ? ", then trust them again in Codex's /hooks" : "";
}

std::string join(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out.append(out.empty() ? "" : ", ").append(w);
  return out;
}

std::string seconds_text(double seconds) {
  const double whole = std::floor(seconds);
  return whole == seconds ? std::to_string(static_cast<long long>(whole)) + " s"
                          : std::to_string(seconds) + " s";
}

// Every event setup wires for the agent and no entry of ours covers.
std::vector<std::string> missing_events(const setup::WiringState& state) {
  std::set<std::string> wired;
  for (const auto& e : state.entries) wired.insert(e.event);
  std::vector<std::string> missing;
  for (const auto& event : state.agent->events)
    if (wired.count(std::string(event.name)) == 0) missing.emplace_back(event.name);
  return missing;
}

Check wired_check(const setup::WiringState& state) {
  const setup::Agent& agent = *state.agent;
  const std::string fix = agent.writes
                              ? setup_command(agent)
                              : "add what `ombrel setup --print " + std::string(agent.name) +
                                    "` shows to the agent's configuration";
  if (!state.problems.empty()) {
    const auto& problem = state.problems.front();
    return failure(
        "wired", problem.file + ": " + problem.message,
        "correct " + problem.file + " by hand (the agent cannot read it either), then " + fix);
  }
  if (state.entries.empty()) return failure("wired", "no hook of ours", fix);
  const std::vector<std::string> missing = missing_events(state);
  if (!missing.empty()) return failure("wired", "not on " + join(missing), fix);
  return pass("wired", std::to_string(state.entries.size()) + " hooks in " + join(state.files));
}

Check hook_path_check(const setup::WiringState& state, const std::optional<std::string>& hook) {
  if (!hook) return info("hook path", "not compared: ombrel-hook was not found");
  std::set<std::string> stale;
  for (const auto& e : state.entries)
    if (e.hook_path != *hook) stale.insert(e.hook_path);
  if (stale.empty()) return pass("hook path", *hook);
  const std::string fix =
      setup_command(*state.agent) + " to point them at " + *hook + trust_again(*state.agent);
  return failure("hook path", "runs " + join({stale.begin(), stale.end()}) + ", not " + *hook, fix);
}

Check timeout_check(const setup::WiringState& state) {
  const setup::Agent& agent = *state.agent;
  const double needed = needed_permission_seconds(agent);
  std::set<std::string> permission;
  for (const auto& event : agent.events)
    if (event.permission) permission.emplace(event.name);
  std::vector<std::string> short_ones;
  for (const auto& e : state.entries) {
    if (permission.count(e.event) == 0) continue;
    const std::optional<double> seconds = e.timeout_seconds ? e.timeout_seconds
                                          : agent.default_timeout_s
                                              ? std::optional<double>(*agent.default_timeout_s)
                                              : std::nullopt;
    if (!seconds) continue;  // the agent's default is not known: nothing to hold it against
    if (*seconds < needed) short_ones.push_back(e.event + " " + seconds_text(*seconds));
  }
  if (short_ones.empty()) return pass("timeouts", "permission hooks wait " + seconds_text(needed));
  return failure(
      "timeouts",
      join(short_ones) + ": the agent gives up on a decision before " + seconds_text(needed),
      setup_command(agent) + ", or set the timeout to " + seconds_text(needed) + " by hand" +
          trust_again(agent));
}

Check trust_check(const setup::WiringState& state,
                  const Result<std::map<std::string, std::string>>& trust) {
  if (!trust) return failure("trust", trust.error(), "correct config.toml, then open Codex");
  std::vector<CodexHookPlace> ours;
  std::map<std::string, nlohmann::json> files;
  for (const auto& e : state.entries) {
    if (!e.group || !e.handler) continue;
    ours.push_back({e.file, e.event, *e.group, *e.handler});
    if (files.count(e.file) != 0) continue;
    if (auto hooks = read_codex_hooks(e.file)) files.emplace(e.file, hooks.take());
  }
  return check_codex_trust(ours, files, trust.value());
}

}  // namespace

double needed_permission_seconds(const setup::Agent& agent) {
  const double wanted = 600;
  return agent.max_timeout_s ? std::min<double>(wanted, *agent.max_timeout_s) : wanted;
}

std::vector<Check> agent_checks(const setup::WiringState& state,
                                const std::optional<std::string>& hook, const CodexTrust& trust) {
  std::vector<Check> rows;
  if (!state.installed && state.entries.empty() && state.problems.empty()) {
    rows.push_back(row(state, info("installed", "no")));
    return rows;
  }
  rows.push_back(row(state, state.installed ? pass("installed", state.installed_because)
                                            : info("installed", "no, but wired")));
  Check wired = wired_check(state);
  const bool any = !state.entries.empty();
  rows.push_back(row(state, std::move(wired)));
  if (!any) return rows;
  rows.push_back(row(state, hook_path_check(state, hook)));
  rows.push_back(row(state, timeout_check(state)));
  if (trust) rows.push_back(row(state, trust_check(state, *trust)));
  return rows;
}

}  // namespace ombrel::doctor
