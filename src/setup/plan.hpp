// What `ombrel setup` (or `--remove`) would change for one agent, worked out from the files
// as they are without touching them, and then applied file by file. A file that cannot be
// read or parsed is never part of a plan: it is an error of the plan, and left alone.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "agents.hpp"
#include "common/result.hpp"
#include "environment.hpp"
#include "files.hpp"

namespace ombrel::setup {

struct FileChange {
  std::string path;                  // the agent's file, as the agent names it
  std::string target;                // where the write lands (a link's target)
  std::optional<FileText> before;    // nothing: the file is new
  std::optional<std::string> after;  // nothing: the file goes
  mode_t mode = 0600;                // of the written file
  bool drop_backup = false;          // the original is back: its backup goes too
  bool backup = true;                // false for files that are ours alone (scripts, our file)
};

struct AgentPlan {
  const Agent* agent = nullptr;
  std::vector<std::string> files;   // every file looked at
  std::vector<FileChange> changes;  // empty: nothing to do ("already wired")
  std::vector<std::string> notes;   // links followed, files of the user's left alone, ...
  std::vector<std::string> errors;  // files refused, with what to do
};

AgentPlan plan_setup(const Agent& agent, const Env& env,
                     const std::optional<std::string>& project_dir, const std::string& hook_path);
AgentPlan plan_remove(const Agent& agent, const Env& env,
                      const std::optional<std::string>& project_dir);

// Backup first (once), then the atomic write or the removal.
Status apply_change(const FileChange& change);

// The configuration as setup would write it into an empty file: what --print shows.
std::string snippet(const Agent& agent, const Env& env, const std::string& hook_path);

}  // namespace ombrel::setup
