#include "terminal.hpp"

#include <gtest/gtest.h>

#include <map>

#include "fake_runner.hpp"

namespace ombrel::launcher {
namespace {

// clang-format off
TEST(Terminal, PidChainStopsAtInitRepeatsUnknownsAndEightEntries) {
  using Parents = std::map<std::string, std::string>;
  Parents eight;
  for (int pid = 100; pid < 110; ++pid) eight[std::to_string(pid)] = std::to_string(pid + 1);
  struct { Parents parents; std::vector<std::uint32_t> chain; } cases[] = {
      {{{"100", "50\n"}, {"50", "1\n"}}, {100, 50}},  // stops below 2
      {{{"100", "0"}}, {100}},
      {{{"100", " 50 "}}, {100, 50}},                // stops when ps fails
      {{{"100", "50"}, {"50", "50"}}, {100, 50}},    // stops at a repeat
      {{{"100", "5O"}}, {100}},                      // not a number
      {eight, {100, 101, 102, 103, 104, 105, 106, 107}}};
  for (const auto& c : cases) {
    test::FakeRunner ps([&](const Command& cmd) -> Result<Captured> {
      auto it = c.parents.find(cmd.argv.back());
      return it == c.parents.end() ? test::exited(1) : test::exited(0, it->second);
    });
    EXPECT_EQ(pid_chain(100, ps), c.chain);
    EXPECT_EQ(ps.commands[0].argv, (std::vector<std::string>{"ps", "-o", "ppid=", "-p", "100"}));
  }
}

TEST(Terminal, TerminalAppFallsBackToTheEnvironmentInTableOrder) {
  using Opt = std::optional<std::string_view>;
  const Opt none;
  struct { Opt term, bundle; std::optional<std::string> app; } cases[] = {
      {"Tabby", none, "Tabby"}, {none, "org.tabby", "Tabby"}, {"Apple_Terminal", none, "Terminal"},
      {none, "com.apple.Terminal", "Terminal"}, {"iTerm.app", none, "iTerm2"},
      {"", "com.googlecode.iterm2", "iTerm2"}, {"WarpTerminal", none, "Warp"},
      {"WezTerm", none, "WezTerm"}, {"vscode", none, "Code"}, {none, "com.microsoft.VSCode", "Code"},
      {"tabby-x", none, std::nullopt}, {none, "dev.warp.Warp", std::nullopt}, {"", "", std::nullopt},
      {"WarpTerminal", "com.apple.Terminal", "Terminal"}};  // the first row that applies wins
  for (const auto& c : cases) EXPECT_EQ(terminal_app_from_env(c.term, c.bundle), c.app) << *c.term;
  EXPECT_TRUE(is_known_terminal_app("ITERM2") && is_known_terminal_app("windsurf"));
  EXPECT_FALSE(is_known_terminal_app("iTerm2 Nightly") || is_known_terminal_app("Codes"));
}

TEST(Terminal, JsonStringEscapesExactlyTheControlCharacters) {
  struct { std::string in, out; } cases[] = {
      {"", "\"\""}, {"a\"b\\c", "\"a\\\"b\\\\c\""}, {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("\0\x01\x1b\x08\x0c\x1f", 6), "\"\\u0000\\u0001\\u001b\\u0008\\u000c\\u001f\""},
      {"\x7f/é“会话”", "\"\x7f/é“会话”\""}, {"bad\xff", "\"bad\xEF\xBF\xBD\""}};
  for (const auto& c : cases) EXPECT_EQ(json_string(c.in), c.out);
  EXPECT_EQ(json_u32(std::nullopt) + json_u32(4294967295u), "null4294967295");
}
// clang-format on

}  // namespace
}  // namespace ombrel::launcher
