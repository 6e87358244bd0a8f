#include "setup_command.hpp"

#include "diff.hpp"
#include "plan.hpp"
#include "wiring_state.hpp"

namespace ombrel::setup {
namespace {

std::string shown(const std::string& path, const Env& env) {
  const std::string home = env.home();
  if (path.starts_with(home + "/")) return "~" + path.substr(home.size());
  return path;
}

std::string title(const Agent& agent) {
  return std::string(agent.title);
}

std::string verb(const FileChange& change) {
  if (!change.after) return "removed";
  return change.before ? "updated" : "created";
}

// The same, for a dry run: what would happen to the file.
std::string would(const FileChange& change) {
  if (!change.after) return "would remove";
  return change.before ? "would update" : "would create";
}

std::string diff_of(const FileChange& change) {
  const std::string before = change.before ? change.before->text : "";
  const std::string after = change.after.value_or("");
  return unified_diff(change.before ? "a" + change.path : "/dev/null",
                      change.after ? "b" + change.path : "/dev/null", before, after);
}

std::vector<const Agent*> chosen(const SetupOptions& options, const Env& env, Output& output) {
  if (!options.agents.empty()) return options.agents;
  std::vector<const Agent*> agents;
  if (options.all || options.remove) {
    for (const Agent& agent : all_agents()) {
      if (agent.writes || options.all) agents.push_back(&agent);
    }
    return agents;
  }
  std::string found;
  for (const WiringState& seen : read_all_wiring(env)) {
    if (!seen.installed) continue;
    agents.push_back(seen.agent);
    found += "  " + title(*seen.agent) + " (" + seen.installed_because + ")\n";
  }
  if (!agents.empty()) output.out += "Agents found on this machine:\n" + found;
  return agents;
}

// Applies (or, for a dry run, shows) one agent's plan; false when something failed.
bool carry_out(const AgentPlan& plan, const SetupOptions& options, const Env& env, Output& output) {
  const std::string name = title(*plan.agent);
  for (const auto& note : plan.notes) output.out += name + ": note: " + note + "\n";
  for (const auto& error : plan.errors) output.err += "ombrel setup: " + name + ": " + error + "\n";
  if (plan.changes.empty() && plan.errors.empty() && !plan.files.empty()) {
    std::string where;
    for (const auto& file : plan.files) where += (where.empty() ? "" : ", ") + shown(file, env);
    if (options.remove) {
      if (!options.agents.empty()) output.out += name + ": nothing of ours to remove\n";
    } else {
      output.out += name + ": already wired (" + where + ")\n";
    }
  }
  bool ok = plan.errors.empty();
  for (const FileChange& change : plan.changes) {
    if (options.dry_run) {
      output.out +=
          name + ": " + would(change) + " " + shown(change.path, env) + "\n" + diff_of(change);
      continue;
    }
    if (Status done = apply_change(change); !done) {
      output.err += "ombrel setup: " + name + ": " + done.error() + "\n";
      ok = false;
      continue;
    }
    output.out += name + ": " + verb(change) + " " + shown(change.path, env) + "\n";
  }
  return ok;
}

void show_snippet(const Agent& agent, const Env& env, const std::string& hook_path,
                  Output& output) {
  output.out += title(agent) + ": not written: " + std::string(agent.warning) +
                "\nAdd this yourself (ombrel setup --print " + std::string(agent.name) + "):\n" +
                snippet(agent, env, hook_path);
}

}  // namespace

int run_setup(const SetupOptions& options, const Env& env, const std::string& hook_path,
              Output& output) {
  if (options.print) {
    if (!options.print->writes)
      output.err += "ombrel setup: warning: " + std::string(options.print->warning) + "\n";
    output.out += snippet(*options.print, env, hook_path);
    return 0;
  }
  const auto agents = chosen(options, env, output);
  if (agents.empty()) {
    output.err +=
        "ombrel setup: found no agent here (none of their programs on PATH, none of their "
        "folders): name them (ombrel setup claude codex) or use --all\n";
    return 1;
  }
  if (!options.remove) output.out += "Hook: " + hook_path + "\n";
  bool ok = true;
  std::string still;
  for (const Agent* agent : agents) {
    if (!options.remove && !agent->writes) {
      show_snippet(*agent, env, hook_path, output);
      still += "  " + title(*agent) + ": " + std::string(agent->follow_up) + "\n";
      continue;
    }
    const AgentPlan plan = options.remove ? plan_remove(*agent, env, options.project_dir)
                                          : plan_setup(*agent, env, options.project_dir, hook_path);
    const bool done = carry_out(plan, options, env, output);
    ok = ok && done;
    if (done && !options.remove && !plan.files.empty() && !agent->follow_up.empty()) {
      still += "  " + title(*agent) + ": " + std::string(agent->follow_up) + "\n";
    }
  }
  if (options.dry_run)
    output.out += "Dry run: nothing was changed.\n";
  else if (!still.empty())
    output.out += "Still to do:\n" + still;
  return ok ? 0 : 1;
}

}  // namespace ombrel::setup
