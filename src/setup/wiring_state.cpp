#include "wiring_state.hpp"

#include <unistd.h>

#include "files.hpp"
#include "formats.hpp"
#include "scripts.hpp"
#include "toml_hooks.hpp"

namespace ombrel::setup {
namespace {

bool executable_file(const std::string& path) {
  return path_exists(path) && !is_directory(path) && access(path.c_str(), X_OK) == 0;
}

std::string shown(const std::string& path, const Env& env) {
  const std::string home = env.home();
  if (path.starts_with(home + "/")) return "~" + path.substr(home.size());
  return path;
}

WiredEntry wired(const Agent& agent, const std::string& file, const Entry& entry) {
  WiredEntry out;
  out.file = file;
  out.event = entry.event;
  out.hook_path = entry.program;
  out.command = entry.command;
  if (entry.timeout) out.timeout_seconds = timeout_seconds(agent, *entry.timeout);
  out.group = entry.group;
  out.handler = entry.handler;
  return out;
}

void read_scripts(const Agent& agent, const std::string& dir, WiringState& found) {
  bool any = false;
  for (const HookEvent& event : agent.events) {
    const std::string file = dir + "/" + std::string(event.name);
    auto read = read_text_file(file);
    if (!read) {
      found.problems.push_back({file, read.error()});
      continue;
    }
    if (!read.value()) continue;
    auto program = our_script_program(read.value()->text);
    if (!program) continue;
    WiredEntry entry;
    entry.file = file;
    entry.event = std::string(event.name);
    entry.hook_path = *program;
    entry.command = read.value()->text;
    found.entries.push_back(std::move(entry));
    if (!any) found.files.push_back(dir);
    any = true;
  }
}

void read_config_file(const Agent& agent, const std::string& file, WiringState& found,
                      bool codex_toml = false) {
  auto read = read_text_file(file);
  if (!read) {
    found.problems.push_back({file, read.error()});
    return;
  }
  if (!read.value()) return;
  auto entries = codex_toml ? find_codex_toml_entries(read.value()->text)
                            : find_entries(agent, read.value()->text);
  if (!entries) {
    found.problems.push_back({file, entries.error()});
    return;
  }
  if (entries.value().empty()) return;
  found.files.push_back(file);
  for (const Entry& entry : entries.value()) found.entries.push_back(wired(agent, file, entry));
}

}  // namespace

std::vector<std::string> config_files(const Agent& agent, const Env& env,
                                      const std::optional<std::string>& project_dir) {
  if (agent.format == Format::kScripts) return script_dirs(agent, env, project_dir);
  auto path = config_path(agent, env, project_dir);
  if (!path || path->find("AGENT") != std::string::npos) return {};
  return {*path};
}

std::optional<std::string> program_on_path(const Agent& agent, const Env& env) {
  const std::string list = env.get("PATH").value_or("");
  for (std::string_view program : agent.programs) {
    std::size_t at = 0;
    while (at <= list.size()) {
      std::size_t end = list.find(':', at);
      if (end == std::string::npos) end = list.size();
      const std::string dir = end > at ? list.substr(at, end - at) : ".";
      const std::string candidate = dir + "/" + std::string(program);
      if (executable_file(candidate)) return candidate;
      at = end + 1;
    }
  }
  return std::nullopt;
}

WiringState read_wiring(const Agent& agent, const Env& env,
                        const std::optional<std::string>& project_dir) {
  WiringState found;
  found.agent = &agent;
  if (auto program = program_on_path(agent, env)) {
    found.installed = true;
    found.installed_because = shown(*program, env) + " on PATH";
  } else if (const std::string folder = agent_folder(agent, env); is_directory(folder)) {
    found.installed = true;
    found.installed_because = shown(folder, env) + " exists";
  }
  for (const std::string& file : config_files(agent, env, project_dir)) {
    if (agent.format == Format::kScripts) {
      read_scripts(agent, file, found);
    } else {
      read_config_file(agent, file, found);
    }
  }
  // Codex also runs hooks written inline in its config.toml; setup never writes them there.
  if (agent.name == "codex") {
    const std::string folder = project_dir ? *project_dir + "/.codex" : agent_folder(agent, env);
    read_config_file(agent, folder + "/config.toml", found, true);
  }
  return found;
}

std::vector<WiringState> read_all_wiring(const Env& env,
                                         const std::optional<std::string>& project_dir) {
  std::vector<WiringState> all;
  for (const Agent& agent : all_agents()) all.push_back(read_wiring(agent, env, project_dir));
  return all;
}

}  // namespace ombrel::setup
