// The words of `ombrel setup`, read into one value.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agents.hpp"
#include "common/result.hpp"

namespace ombrel::setup {

struct SetupOptions {
  std::vector<const Agent*> agents;  // empty: the agents found on this machine
  bool all = false;
  bool dry_run = false;
  bool remove = false;
  std::optional<std::string> project_dir;
  const Agent* print = nullptr;  // --print AGENT: the snippet only
};

// The words after "setup"; an error names the word that is wrong.
Result<SetupOptions> parse_setup_options(const std::vector<std::string>& words);

}  // namespace ombrel::setup
