#include "options.hpp"

namespace ombrel::setup {
namespace {

std::string agent_names() {
  std::string names;
  for (const Agent& agent : all_agents())
    names += (names.empty() ? "" : ", ") + std::string(agent.name);
  return names;
}

Result<const Agent*> named(const std::string& word) {
  if (const Agent* agent = find_agent(word)) return agent;
  return fail("unknown agent '" + word + "' (one of: " + agent_names() + ")");
}

}  // namespace

Result<SetupOptions> parse_setup_options(const std::vector<std::string>& words) {
  SetupOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_value = i + 1 < words.size();
    if (word == "--all") {
      options.all = true;
    } else if (word == "--dry-run") {
      options.dry_run = true;
    } else if (word == "--remove") {
      options.remove = true;
    } else if (word == "--project") {
      if (!has_value) return fail("--project needs a folder");
      options.project_dir = words[++i];
    } else if (word == "--print") {
      if (!has_value) return fail("--print needs an agent");
      auto agent = named(words[++i]);
      if (!agent) return fail(agent.error());
      options.print = agent.value();
    } else if (word.starts_with("-")) {
      return fail("unknown option '" + word + "'");
    } else {
      auto agent = named(word);
      if (!agent) return fail(agent.error());
      options.agents.push_back(agent.value());
    }
  }
  if (options.all && !options.agents.empty())
    return fail("--all and agent names do not go together");
  if (options.print && (options.all || options.remove || !options.agents.empty())) {
    return fail("--print takes one agent and nothing else");
  }
  return options;
}

}  // namespace ombrel::setup
