// What is wired today, agent by agent, read from the agents' own files and never changing
// them: whether the agent is installed, which files hold entries of ours, and for each entry
// its event, the hook it runs and its timeout. `ombrel setup` plans from this and
// `ombrel doctor` checks it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agents.hpp"
#include "environment.hpp"

namespace ombrel::setup {

struct WiredEntry {
  std::string file;                       // the file that holds it (for Cline, the script)
  std::string event;                      // the event as the agent names it
  std::string hook_path;                  // the program of its command, as written
  std::string command;                    // the whole command
  std::optional<double> timeout_seconds;  // its timeout in seconds; nothing: the agent's default
  std::optional<std::size_t> group;    // grouped JSON (Codex hooks.json): index in the event's list
  std::optional<std::size_t> handler;  // index in the group's "hooks" (or in a flat list)
};

struct FileProblem {
  std::string file;
  std::string message;  // why it could not be read, e.g. "it is not valid JSON at line 3, column 1"
};

struct WiringState {
  const Agent* agent = nullptr;
  bool installed = false;
  std::string installed_because;    // "claude on PATH", "~/.claude exists"
  std::vector<std::string> files;   // the files that hold entries of ours
  std::vector<WiredEntry> entries;  // in file order
  std::vector<FileProblem> problems;
};

// The files setup looks at for an agent: the user's (or the project's) configuration, and for
// Cline every folder it reads scripts from.
std::vector<std::string> config_files(const Agent& agent, const Env& env,
                                      const std::optional<std::string>& project_dir);

// The first of the agent's programs found on PATH, with its folder.
std::optional<std::string> program_on_path(const Agent& agent, const Env& env);

WiringState read_wiring(const Agent& agent, const Env& env,
                        const std::optional<std::string>& project_dir = std::nullopt);

// All twelve, in registry order.
std::vector<WiringState> read_all_wiring(
    const Env& env, const std::optional<std::string>& project_dir = std::nullopt);

}  // namespace ombrel::setup
