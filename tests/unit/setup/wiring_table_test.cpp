// One table over the agents: setup into an empty home, into a file holding the user's own
// hooks, over a stale hook path and into a file that does not parse; then remove. What setup
// wrote is read back in the agent's own format and held to that format's rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <toml++/toml.h>

#include <filesystem>
#include <set>

#include "json_hooks.hpp"
#include "plan.hpp"
#include "setup_command.hpp"
#include "temp_dir.hpp"
#include "wiring_state.hpp"

namespace ombrel::setup {
namespace {

using test::read_file;
using test::TempDir;

const std::string kHook = "/opt/ombrel new/bin/ombrel-hook";  // a blank: it must be quoted
const std::string kOldHook = "/opt/ombrel-0.4.1/bin/ombrel-hook";

struct Row {
  std::string agent;
  std::string own;     // the user's file (for Cline: the user's own PreToolUse script)
  std::string broken;  // a file that does not parse; empty: no such case
};

const Row kRows[] = {
    {"claude",
     "{\n    \"model\": \"opus\",\n    \"hooks\": {\n        \"Stop\": [{\"hooks\": [{\"type\": "
     "\"command\", \"command\": \"say done\"}]}]\n    }\n}\n",
     "{\"hooks\": {,}}"},
    {"codex",
     "{\"description\": \"mine\", \"hooks\": {\"PreToolUse\": [{\"matcher\": \"Bash\", \"hooks\": "
     "[{\"type\": \"command\", \"command\": \"audit.sh\", \"timeout\": 5}]}]}}",
     "{\"hooks\": {} // comments are not JSON\n}"},
    {"gemini",
     "{\"security\": {\"auth\": {\"selectedType\": \"gemini-api-key\"}}, \"hooks\": "
     "{\"BeforeTool\": "
     "[{\"matcher\": \"run_shell.*\", \"hooks\": [{\"type\": \"command\", \"command\": "
     "\"audit\"}]}]}}\n",
     "[1, 2]"},
    {"copilot",
     "{\"version\": 1, \"hooks\": {\"agentStop\": [{\"type\": \"command\", \"bash\": "
     "\"notify\"}]}}\n",
     "{\"version\": 1,"},
    {"qoder", "{\"theme\": \"dark\"}\n", "{\"hooks\": []}"},
    {"kimi",
     "# my providers\ndefault_model = \"k2\"\n\n[providers.moonshot]\napi_key = \"sk-secret\"  # "
     "keep me\n\n[[hooks]]\nevent = \"Stop\"\ncommand = \"notify-send done\"\n",
     "[providers\napi_key = \"x\"\n"},
    {"cline", "#!/bin/sh\necho mine\n", ""},
};

// Kimi validates its hook tables strictly against these event names.
const std::set<std::string> kKimiEvents = {"PreToolUse",
                                           "PostToolUse",
                                           "PostToolUseFailure",
                                           "PermissionRequest",
                                           "PermissionResult",
                                           "UserPromptSubmit",
                                           "Stop",
                                           "StopFailure",
                                           "Interrupt",
                                           "SessionStart",
                                           "SessionEnd",
                                           "SubagentStart",
                                           "SubagentStop",
                                           "PreCompact",
                                           "PostCompact",
                                           "Notification"};

class Wiring : public ::testing::Test {
 protected:
  Wiring() { env.vars = {{"HOME", home.str()}, {"PATH", ""}}; }

  std::string file_of(const Agent& agent) { return *config_path(agent, env, std::nullopt); }

  // Plans and applies; the plan's errors fail the test unless expected.
  AgentPlan run(const Agent& agent, const std::optional<std::string>& hook) {
    AgentPlan plan =
        hook ? plan_setup(agent, env, std::nullopt, *hook) : plan_remove(agent, env, std::nullopt);
    for (const auto& change : plan.changes) EXPECT_TRUE(apply_change(change).ok()) << change.path;
    return plan;
  }

  TempDir home;
  Env env;
};

// Every event once, running `hook`, with the permission events' longest timeout.
void expect_wired(const Agent& agent, const WiringState& seen, const std::string& hook) {
  EXPECT_TRUE(seen.problems.empty()) << seen.problems.front().message;
  std::multiset<std::string> events;
  for (const WiredEntry& entry : seen.entries) {
    events.insert(entry.event);
    EXPECT_EQ(entry.hook_path, hook) << agent.name << " " << entry.event;
    EXPECT_NE(entry.command.find("--source " + std::string(agent.source)), std::string::npos);
    if (agent.pass_event) {
      EXPECT_NE(entry.command.find("--event " + entry.event), std::string::npos);
    }
    for (const HookEvent& event : agent.events) {
      if (event.name != entry.event || agent.timeout_key.empty()) continue;
      if (event.permission) {
        EXPECT_EQ(entry.timeout_seconds, 600.0) << agent.name << " " << event.name;
      }
      if (event.no_timeout) {
        EXPECT_FALSE(entry.timeout_seconds) << agent.name << " " << event.name;
      }
    }
  }
  for (const HookEvent& event : agent.events) {
    EXPECT_EQ(events.count(std::string(event.name)), 1u) << agent.name << " " << event.name;
  }
}

// The rules of each format that a wrong write would break in the agent itself.
void expect_valid_format(const Agent& agent, const std::string& path) {
  if (agent.format == Format::kScripts) {
    for (const HookEvent& event : agent.events) {
      const std::string text = read_file(path + "/" + std::string(event.name));
      EXPECT_TRUE(text.starts_with("#!/bin/sh\nexec '" + kHook + "' --source cline --event " +
                                   std::string(event.name) + "\n"))
          << text;
    }
    return;
  }
  if (agent.format == Format::kToml) {
    const toml::table doc = toml::parse(read_file(path));
    for (const auto& node : *doc["hooks"].as_array()) {
      const toml::table& table = *node.as_table();
      for (const auto& [key, value] : table) {
        EXPECT_TRUE(key == "event" || key == "command" || key == "timeout" || key == "matcher")
            << key;
      }
      EXPECT_TRUE(kKimiEvents.contains(table["event"].value_or(std::string())));
      if (auto timeout = table["timeout"].as_integer()) {
        EXPECT_TRUE(timeout->get() >= 1 && timeout->get() <= 600);
      }
    }
    return;
  }
  const Json doc = Json::parse(read_file(path));
  if (agent.name == "codex") {
    for (const auto& [key, value] : doc.items())
      EXPECT_TRUE(key == "hooks" || key == "description") << key;
  }
  if (!agent.root_keys.empty()) {
    EXPECT_EQ(doc["version"], 1);
  }
  for (const auto& [event, list] : doc["hooks"].items()) {
    for (const Json& entry : list) {
      if (agent.format == Format::kJsonFlat) {
        EXPECT_TRUE(entry[std::string(agent.command_key)].is_string()) << entry;
        continue;
      }
      // Gemini's matcher is a regular expression, where "*" matches nothing.
      if (agent.name == "gemini" && entry.contains("matcher")) {
        EXPECT_EQ(entry["matcher"], ".*");
      }
      for (const Json& handler : entry["hooks"]) EXPECT_EQ(handler["type"], "command");
    }
  }
}

TEST_F(Wiring, IntoAnEmptyHomeThenAgainThenRemoved) {
  for (const Row& row : kRows) {
    const Agent& agent = *find_agent(row.agent);
    const std::string path = file_of(agent);
    EXPECT_FALSE(run(agent, kHook).changes.empty()) << agent.name;
    expect_wired(agent, read_wiring(agent, env), kHook);
    expect_valid_format(agent, path);
    EXPECT_TRUE(run(agent, kHook).changes.empty()) << agent.name << ": not already wired";
    run(agent, std::nullopt);
    EXPECT_TRUE(read_wiring(agent, env).entries.empty()) << agent.name;
    if (agent.format != Format::kScripts) {
      EXPECT_FALSE(std::filesystem::exists(path)) << path;
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(path)) << path;
    }
  }
}

TEST_F(Wiring, BesideTheUsersOwnHooksAndBackToTheSameBytes) {
  for (const Row& row : kRows) {
    const Agent& agent = *find_agent(row.agent);
    const std::string path = file_of(agent);
    const std::string own_path = agent.format == Format::kScripts ? path + "/PreToolUse" : path;
    home.write(own_path.substr(home.str().size() + 1), row.own);
    chmod(own_path.c_str(), 0640);
    const AgentPlan plan = run(agent, kHook);
    EXPECT_EQ(read_file(own_path) == row.own, agent.format == Format::kScripts) << agent.name;
    struct stat st {};
    stat(own_path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << agent.name << ": the file's mode is kept";
    const WiringState seen = read_wiring(agent, env);
    if (agent.format == Format::kScripts) {
      EXPECT_EQ(seen.entries.size(), agent.events.size() - 1)
          << "the user's PreToolUse is left alone";
      EXPECT_EQ(plan.notes.size(), 1u);
    } else {
      expect_wired(agent, seen, kHook);
      EXPECT_EQ(read_file(path + kBackupSuffix), row.own);
    }
    for (const WiredEntry& entry : seen.entries) {
      // Appended after the user's group (Codex keeps its trust by position).
      if (agent.name == "codex" && entry.event == "PreToolUse") {
        EXPECT_EQ(entry.group, 1u);
      }
    }
    run(agent, std::nullopt);
    EXPECT_EQ(read_file(own_path), row.own) << agent.name;
    EXPECT_FALSE(std::filesystem::exists(path + kBackupSuffix)) << agent.name;
  }
}

TEST_F(Wiring, AMovedHookIsUpdatedInPlace) {
  for (const Row& row : kRows) {
    const Agent& agent = *find_agent(row.agent);
    run(agent, kOldHook);
    const WiringState before = read_wiring(agent, env);
    EXPECT_FALSE(run(agent, kHook).changes.empty()) << agent.name;
    const WiringState after = read_wiring(agent, env);
    expect_wired(agent, after, kHook);
    ASSERT_EQ(after.entries.size(), before.entries.size()) << agent.name;
    for (std::size_t i = 0; i < after.entries.size(); ++i) {
      EXPECT_EQ(after.entries[i].event, before.entries[i].event) << agent.name;
      EXPECT_EQ(after.entries[i].group, before.entries[i].group) << agent.name;
    }
  }
}

TEST_F(Wiring, AFileThatDoesNotParseIsLeftUntouched) {
  for (const Row& row : kRows) {
    if (row.broken.empty()) continue;
    const Agent& agent = *find_agent(row.agent);
    const std::string path = file_of(agent);
    home.write(path.substr(home.str().size() + 1), row.broken);
    const AgentPlan plan = plan_setup(agent, env, std::nullopt, kHook);
    EXPECT_TRUE(plan.changes.empty()) << agent.name;
    ASSERT_EQ(plan.errors.size(), 1u) << agent.name;
    EXPECT_NE(plan.errors[0].find(path + ": "), std::string::npos) << plan.errors[0];
    const bool syntax = agent.format == Format::kToml || !Json::accept(row.broken);
    EXPECT_EQ(plan.errors[0].find("line ") != std::string::npos, syntax) << plan.errors[0];
    EXPECT_TRUE(plan_remove(agent, env, std::nullopt).changes.empty()) << agent.name;
    EXPECT_EQ(read_file(path), row.broken);
  }
}

TEST_F(Wiring, AllTwelveInADryRunAndSnippetsWhereTheFilesAreNotKnown) {
  SetupOptions options;
  options.all = true;
  options.dry_run = true;
  Output output;
  EXPECT_EQ(run_setup(options, env, kHook, output), 0) << output.err;
  for (const Agent& agent : all_agents()) {
    EXPECT_NE(output.out.find(std::string(agent.title) + ": "), std::string::npos) << agent.name;
    if (agent.writes || agent.format == Format::kScripts) continue;
    const Json doc = Json::parse(snippet(agent, env, kHook));
    for (const HookEvent& event : agent.events) {
      EXPECT_TRUE(doc["hooks"].contains(std::string(event.name))) << agent.name << event.name;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(home.path())) << "a dry run writes nothing";
}

}  // namespace
}  // namespace ombrel::setup
