// The words after `ombrel` that the launcher hands over: a subcommand and its words, or
// help, --help, --version.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel::setup {

struct Subcommand {
  std::string_view name;
  std::string_view summary;  // its lines in `ombrel help`
  int (*run)(const std::vector<std::string>& words, const char* argv0);  // the words after it
};

// Runs the subcommand the first word names; help and the version otherwise.
int dispatch(std::span<const Subcommand> subcommands, int argc, char** argv);

// `ombrel setup ...`.
int setup_main(const std::vector<std::string>& words, const char* argv0);
extern const std::string_view kSetupSummary;

}  // namespace ombrel::setup
