#include "cli.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.hpp"
#include "options.hpp"
#include "self_path.hpp"
#include "setup_command.hpp"

namespace ombrel::setup {
namespace {

void write(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

const std::string_view kSetupSummary =
    "  ombrel setup [AGENT...]           wire these agents (none named: the ones found here)\n"
    "  ombrel setup --all                all twelve (agents whose files are not known: a snippet)\n"
    "  ombrel setup --dry-run ...        show each change as a diff, change nothing\n"
    "  ombrel setup --project DIR ...    the project's own files instead of the user's\n"
    "  ombrel setup --remove [AGENT...]  take out exactly what setup added\n"
    "  ombrel setup --print AGENT        print the configuration only\n"
    "  Agents: claude codex cursor gemini copilot cline kiro kimi qoder codebuddy workbuddy\n"
    "  reasonix. Each file is backed up once (FILE.ombrel-backup) before its first change.\n";

int setup_main(const std::vector<std::string>& words, const char* argv0) {
  if (words.size() == 1 && (words[0] == "--help" || words[0] == "help")) {
    write(stdout, kSetupSummary);
    return 0;
  }
  auto options = parse_setup_options(words);
  if (!options) {
    write(stderr, "ombrel setup: " + options.error() + " (ombrel help)\n");
    return 2;
  }
  auto hook = hook_beside(argv0);
  if (!hook) {
    write(stderr, "ombrel setup: " + hook.error() + "\n");
    return 1;
  }
  const Env env = Env::from_process();
  if (!env.get("HOME")) {
    write(stderr, "ombrel setup: HOME is not set, so the agents' files cannot be found\n");
    return 1;
  }
  Output output;
  const int status = run_setup(options.value(), env, hook.value(), output);
  write(stdout, output.out);
  std::fflush(stdout);
  write(stderr, output.err);
  return status;
}

namespace {

std::string help_text(std::span<const Subcommand> subcommands) {
  std::string text =
      "ombrel connects coding agents to the Ombrel desktop.\n\n"
      "  ombrel run TOOL [ARGS...]         start TOOL in a tmux session the desktop can drive\n";
  for (const Subcommand& sub : subcommands) text += sub.summary;
  text += "  ombrel help, ombrel --version\n\nSee README.md and docs/agents.md.\n";
  return text;
}

}  // namespace

int dispatch(std::span<const Subcommand> subcommands, int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  const char* argv0 = argc > 0 ? argv[0] : nullptr;
  if (words.empty() || words[0] == "help" || words[0] == "--help") {
    write(stdout, help_text(subcommands));
    return 0;
  }
  if (words[0] == "--version") {
    write(stdout, "ombrel-setup " + std::string(kVersion) + "\n");
    return 0;
  }
  for (const Subcommand& sub : subcommands) {
    if (words[0] == sub.name) return sub.run({words.begin() + 1, words.end()}, argv0);
  }
  write(stderr, "ombrel: unknown command '" + words[0] + "' (ombrel help)\n");
  return 2;
}

}  // namespace ombrel::setup
