// Which commands are ours decides what --remove takes out: only a command whose program is
// named ombrel-hook, however it is quoted, and never one that merely mentions it.
#include "hook_command.hpp"

#include <gtest/gtest.h>

namespace ombrel::setup {
namespace {

TEST(HookCommand, OursIsTheProgramNamedOmbrelHookAndNothingElse) {
  // clang-format off
  struct { std::string command; std::optional<std::string> program; } cases[] = {
      {"ombrel-hook --source claude", "ombrel-hook"},
      {"/usr/local/bin/ombrel-hook --source codex", "/usr/local/bin/ombrel-hook"},
      {"'/Users/a b/bin/ombrel-hook' --source gemini", "/Users/a b/bin/ombrel-hook"},
      {"\"/opt/x \\\"y\\\"/ombrel-hook\" --source kimi", "/opt/x \"y\"/ombrel-hook"},
      {"  exec /opt/ombrel-hook --source cline --event PreToolUse", "/opt/ombrel-hook"},
      {"/opt/ombrel-hook.old --source claude", std::nullopt},
      {"/opt/my-ombrel-hook", std::nullopt},
      {"echo ombrel-hook", std::nullopt},
      {"env OMBREL_SERVER=http://x ombrel-hook --source claude", std::nullopt},
      {"'/opt/ombrel-hook --source claude", std::nullopt},  // an open quote: not a command
      {"", std::nullopt}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(our_hook_program(c.command), c.program) << c.command;
}

TEST(HookCommand, WhatSetupWritesReadsBackAsTheSamePath) {
  const Agent& copilot = *find_agent("copilot");
  for (const std::string path : {"/usr/bin/ombrel-hook", "/Users/o'brien/My Tools/ombrel-hook",
                                 "/tmp/$HOME`x`/ombrel-hook"}) {
    const std::string command = hook_command(copilot, path, "preToolUse");
    EXPECT_EQ(our_hook_program(command), path) << command;
    EXPECT_TRUE(command.ends_with(" --source copilot --event preToolUse")) << command;
  }
}

}  // namespace
}  // namespace ombrel::setup
