#include "doctor.hpp"

#include <cstdio>
#include <cstdlib>

#include "agents.hpp"
#include "doctor_agents.hpp"
#include "doctor_codex_trust.hpp"
#include "doctor_log.hpp"
#include "doctor_programs.hpp"
#include "wiring_state.hpp"

namespace ombrel::doctor {
namespace {

constexpr const char* kUsage =
    "usage: ombrel doctor [--json]\n"
    "Checks the desktop's address, the hook, its debug log, tmux and every agent's wiring.\n"
    "Exit status 0 when every check passes, 1 when one fails.\n";

// The variable as the hook reads it: set but empty is not unset.
std::optional<std::string> raw(const setup::Env& env, const char* name) {
  const auto found = env.vars.find(name);
  if (found == env.vars.end()) return std::nullopt;
  return found->second;
}

CodexTrust codex_trust(const setup::Agent& agent, const setup::Env& env) {
  if (agent.name != "codex") return std::nullopt;
  return read_codex_trust(setup::agent_folder(agent, env) + "/config.toml");
}

void print(std::FILE* to, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), to);
}

}  // namespace

std::vector<Check> machine_checks(const DoctorContext& context) {
  std::vector<Check> rows;
  ServerCheck server = check_server_setting(raw(context.env, "OMBREL_SERVER"));
  rows.push_back(server.row);
  rows.push_back(check_desktop(server.address, context.connect));
  rows.push_back(check_hook(context.hook, *context.runner, context.own_version));
  rows.push_back(
      check_log(hook_log_setting(raw(context.env, "OMBREL_HOOK_LOG"), raw(context.env, "HOME"),
                                 raw(context.env, "USERPROFILE"))));
  rows.push_back(check_tmux(context.tmux_available()));
  rows.push_back(check_inside_tmux(context.env.get("TMUX").has_value()));
  return rows;
}

std::vector<Check> all_checks(const DoctorContext& context) {
  std::vector<Check> rows = machine_checks(context);
  const std::optional<std::string> hook =
      context.hook ? std::optional<std::string>(context.hook.value()) : std::nullopt;
  for (const setup::WiringState& state : setup::read_all_wiring(context.env)) {
    for (Check& row : agent_checks(state, hook, codex_trust(*state.agent, context.env)))
      rows.push_back(std::move(row));
  }
  return rows;
}

int doctor_main(const std::vector<std::string>& args, const DoctorContext& context) {
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      print(stdout, kUsage);
      return 0;
    } else {
      print(stderr, "ombrel doctor: unknown option \"" + arg + "\"\n" + kUsage);
      return 2;
    }
  }
  std::vector<Check> rows = all_checks(context);
  print(stdout, json ? render_json(rows) : render_table(rows));
  return exit_status(rows);
}

}  // namespace ombrel::doctor
