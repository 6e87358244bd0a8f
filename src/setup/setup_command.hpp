// `ombrel setup`: works out every agent's plan first, shows it, then (unless --dry-run)
// applies it file by file, and ends with what the user must still do per agent.
#pragma once

#include <string>

#include "environment.hpp"
#include "options.hpp"

namespace ombrel::setup {

struct Output {
  std::string out, err;
};

// The exit status: 0 when every agent asked for is wired (or printed), 1 when a file was
// refused or could not be written.
int run_setup(const SetupOptions& options, const Env& env, const std::string& hook_path,
              Output& output);

}  // namespace ombrel::setup
