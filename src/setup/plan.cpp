#include "plan.hpp"

#include "formats.hpp"
#include "json_hooks.hpp"
#include "scripts.hpp"

namespace ombrel::setup {
namespace {

constexpr mode_t kNewFileMode = 0600;
constexpr mode_t kNewScriptMode = 0700;

std::string refused(const std::string& path, const std::string& why) {
  return path + ": " + why +
         ". It was left untouched: fix it (or move it aside) and run ombrel "
         "setup again.";
}

bool inside(const std::string& path, const std::string& folder) {
  return path == folder || path.starts_with(folder + "/");
}

// Where a write to path lands, and a note when a link takes it out of the agent's folder.
std::string target_of(const Agent& agent, const Env& env, const std::string& path,
                      const std::optional<std::string>& project_dir, AgentPlan& plan) {
  const std::string target = resolved_target(path);
  const std::string folder = resolved_target(project_dir ? *project_dir : agent_folder(agent, env));
  if (target != path && !inside(target, folder)) {
    plan.notes.push_back(path + " is a link to " + target + ", outside " + folder +
                         ": that is the file setup reads and writes");
  }
  return target;
}

std::optional<FileText> read_or_note(const std::string& path, AgentPlan& plan, bool& failed) {
  auto read = read_text_file(path);
  if (!read) {
    plan.errors.push_back(refused(path, read.error()));
    failed = true;
    return std::nullopt;
  }
  return read.value();
}

void plan_file(const Agent& agent, const Env& env, const std::optional<std::string>& project_dir,
               const std::optional<std::string>& hook_path, AgentPlan& plan) {
  auto path = config_path(agent, env, project_dir);
  if (!path) {
    plan.notes.push_back(std::string(agent.title) +
                         " has no project-level hooks file: nothing to do");
    return;
  }
  plan.files.push_back(*path);
  const std::string target = target_of(agent, env, *path, project_dir, plan);
  bool failed = false;
  auto before = read_or_note(target, plan, failed);
  if (failed) return;
  if (!before && !hook_path) return;  // nothing to remove
  const std::string text = before ? before->text : "";
  auto after = hook_path ? wired_text(agent, text, *hook_path) : unwired_text(agent, text);
  if (!after) {
    plan.errors.push_back(refused(*path, after.error()));
    return;
  }
  if (before && after.value() == text) return;
  FileChange change{*path, target, before, after.value(), before ? before->mode : kNewFileMode};
  if (!hook_path) {
    // Back to how it was before setup first changed it: then exactly the original's bytes.
    auto backup = read_text_file(target + kBackupSuffix);
    if (backup && backup.value()) {
      if (same_settings(agent, after.value(), backup.value()->text)) {
        change.after = backup.value()->text;
        change.drop_backup = true;
      }
    } else if (only_skeleton(agent, after.value())) {
      change.after.reset();  // a file setup made, holding nothing else
      change.backup = false;
    }
  }
  plan.changes.push_back(std::move(change));
}

void plan_scripts(const Agent& agent, const Env& env, const std::optional<std::string>& project_dir,
                  const std::optional<std::string>& hook_path, AgentPlan& plan) {
  const auto dirs = script_dirs(agent, env, project_dir);
  if (dirs.empty()) return;
  plan.files = dirs;
  for (const HookEvent& event : agent.events) {
    bool wired = false;
    for (const std::string& dir : dirs) {
      const std::string path = dir + "/" + std::string(event.name);
      bool failed = false;
      auto have = read_or_note(path, plan, failed);
      if (failed || !have || !our_script_program(have->text)) continue;
      wired = true;
      const std::string target = resolved_target(path);
      if (!hook_path) {
        plan.changes.push_back({path, target, have, std::nullopt, have->mode, false, false});
        continue;
      }
      const std::string want = script_text(agent, *hook_path, event.name);
      if (have->text != want)
        plan.changes.push_back({path, target, have, want, have->mode, false, false});
    }
    if (wired || !hook_path) continue;
    const std::string path = dirs.front() + "/" + std::string(event.name);
    if (path_exists(path)) {
      plan.notes.push_back(path + " is not ours and was left alone: " + std::string(event.name) +
                           " is not wired");
      continue;
    }
    const std::string target = target_of(agent, env, path, project_dir, plan);
    plan.changes.push_back(
        {path, target, std::nullopt, script_text(agent, *hook_path, event.name), kNewScriptMode});
  }
}

AgentPlan plan_for(const Agent& agent, const Env& env,
                   const std::optional<std::string>& project_dir,
                   const std::optional<std::string>& hook_path) {
  AgentPlan plan;
  plan.agent = &agent;
  if (agent.format == Format::kScripts)
    plan_scripts(agent, env, project_dir, hook_path, plan);
  else
    plan_file(agent, env, project_dir, hook_path, plan);
  return plan;
}

}  // namespace

AgentPlan plan_setup(const Agent& agent, const Env& env,
                     const std::optional<std::string>& project_dir, const std::string& hook_path) {
  return plan_for(agent, env, project_dir, hook_path);
}

AgentPlan plan_remove(const Agent& agent, const Env& env,
                      const std::optional<std::string>& project_dir) {
  return plan_for(agent, env, project_dir, std::nullopt);
}

Status apply_change(const FileChange& change) {
  if (change.before && change.backup && !change.drop_backup) {
    if (auto kept = keep_backup(change.target, *change.before); !kept) return kept;
  }
  Status done = change.after ? write_atomically(change.target, *change.after, change.mode)
                             : remove_file(change.target);
  if (!done) return done;
  if (change.drop_backup) return remove_file(change.target + kBackupSuffix);
  return {};
}

std::string snippet(const Agent& agent, const Env& env, const std::string& hook_path) {
  if (agent.format == Format::kScripts) {
    std::string out;
    const auto dirs = script_dirs(agent, env, std::nullopt);
    for (const HookEvent& event : agent.events) {
      out += "# " + dirs.front() + "/" + std::string(event.name) + "\n" +
             script_text(agent, hook_path, event.name) + "\n";
    }
    return out;
  }
  if (agent.format == Format::kToml) {
    auto text = wired_text(agent, "", hook_path);
    return text ? text.value() : text.error() + "\n";
  }
  // One line per event, as people read and paste it; setup itself writes whole files.
  Json doc = Json::object();
  (void)wire_json(agent, doc, hook_path);
  std::string out = "{\n";
  std::size_t member = 0;
  for (const auto& [key, value] : doc.items()) {
    out += "  \"" + key + "\": ";
    if (key == "hooks") {
      out += "{\n";
      std::size_t event = 0;
      for (const auto& [name, list] : value.items()) {
        out += "    \"" + name + "\": " + list.dump() + (++event < value.size() ? ",\n" : "\n");
      }
      out += "  }";
    } else {
      out += value.dump();
    }
    out += ++member < doc.size() ? ",\n" : "\n";
  }
  return out + "}\n";
}

}  // namespace ombrel::setup
