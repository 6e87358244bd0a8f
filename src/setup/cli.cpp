#include "cli.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.hpp"

namespace ombrel::setup {
namespace {

constexpr std::string_view kHelp =
    "Usage: ombrel setup [AGENT...] [--all] [--project DIR] [--dry-run] [--remove]\n"
    "       ombrel setup --print AGENT\n"
    "       ombrel help\n";

void out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int run_cli(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (words.empty() || words[0] == "help" || words[0] == "--help") {
    out(kHelp);
    return 0;
  }
  if (words[0] == "--version") {
    out("ombrel-setup " + std::string(kVersion) + "\n");
    return 0;
  }
  std::fputs("ombrel setup: not built yet\n", stderr);
  return 2;
}

}  // namespace ombrel::setup
