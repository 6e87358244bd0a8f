#include "terminal.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "fake_runner.hpp"

namespace ombrel::launcher {
namespace {

using test::exited;
using test::FakeRunner;

// Answers "ps -o ppid= -p PID" from a table; unknown pids make ps fail.
FakeRunner ps_with_parents(std::map<std::string, std::string> parents) {
  return FakeRunner([parents](const Command& c) -> Result<Captured> {
    auto it = parents.find(c.argv.back());
    return it == parents.end() ? exited(1) : exited(0, it->second);
  });
}

TEST(Terminal, PidChainStopsAtInitRepeatsUnknownsAndEightEntries) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> parents;
    std::vector<std::uint32_t> chain;
  } cases[] = {
      {"stops below 2", {{"100", "50\n"}, {"50", "1\n"}}, {100, 50}},
      {"stops at parent 0", {{"100", "0"}}, {100}},
      {"stops when ps fails", {{"100", " 50 "}}, {100, 50}},
      {"stops at a repeat", {{"100", "50"}, {"50", "50"}}, {100, 50}},
      {"stops at garbage", {{"100", "5O"}}, {100}},
      {"never more than eight",
       {{"100", "101"},
        {"101", "102"},
        {"102", "103"},
        {"103", "104"},
        {"104", "105"},
        {"105", "106"},
        {"106", "107"},
        {"107", "108"},
        {"108", "109"}},
       {100, 101, 102, 103, 104, 105, 106, 107}},
  };
  for (const auto& c : cases) {
    auto runner = ps_with_parents(c.parents);
    EXPECT_EQ(pid_chain(100, runner), c.chain) << c.name;
    EXPECT_EQ(runner.commands.front().argv,
              (std::vector<std::string>{"ps", "-o", "ppid=", "-p", "100"}));
  }
}

TEST(Terminal, ProcessSearchSendsTheNameAsPrintedAndSkipsNonMatches) {
  const std::string self = std::to_string(getpid());
  FakeRunner runner([&](const Command& c) -> Result<Captured> {
    const std::string& last = c.argv.back();
    if (c.argv[0] == "ps" && c.argv[2] == "tty=") return exited(0, "??\n");
    if (c.argv[0] == "ps") return exited(0, last == self ? "500" : last == "500" ? "400" : "1");
    if (last.find("unix id is 500\n") != std::string::npos) return exited(0, "iTerm2 Nightly\n");
    if (last.find("unix id is 400\n") != std::string::npos) return exited(0, " ITERM2\n");
    return exited(1);
  });
  const LauncherTerminalMeta meta = collect_launcher_terminal_meta(runner);
  EXPECT_EQ(meta.parent_pid, 500u);
  EXPECT_EQ(meta.pid_chain, (std::vector<std::uint32_t>{meta.pid, 500, 400}));
  EXPECT_EQ(meta.tty, std::nullopt);
  EXPECT_EQ(meta.terminal_app, "ITERM2");
  EXPECT_EQ(meta.terminal_pid, 400u);
  std::vector<std::vector<std::string>> osascript;
  for (const auto& c : runner.commands) {
    if (c.argv[0] == "osascript") osascript.push_back(c.argv);
  }
  ASSERT_EQ(osascript.size(), 2u);
  EXPECT_EQ(osascript[1], (std::vector<std::string>{
                              "osascript", "-e",
                              "tell application \"System Events\"\n"
                              "    set pList to every process whose unix id is 400\n"
                              "    if (count of pList) > 0 then return name of item 1 of pList\n"
                              "    return \"\"\n"
                              "end tell"}));
}

TEST(Terminal, KnownAppsMatchIgnoringAsciiCaseOnly) {
  for (const char* name : {"Terminal", "ITERM2", "iterm", "warp", "WEZTERM", "kitty", "Ghostty",
                           "code", "Cursor", "windsurf", "Tabby", "Hyper", "alacritty"}) {
    EXPECT_TRUE(is_known_terminal_app(name)) << name;
  }
  for (const char* name : {"iTerm2 Nightly", "Terminal ", "Kıtty", "", "Codes", "tmux"}) {
    EXPECT_FALSE(is_known_terminal_app(name)) << name;
  }
}

TEST(Terminal, EnvironmentFallbackTable) {
  using Opt = std::optional<std::string_view>;
  struct Case {
    Opt term, bundle;
    std::optional<std::string> app;
  } cases[] = {{"Tabby", std::nullopt, "Tabby"},
               {std::nullopt, "org.tabby", "Tabby"},
               {"Apple_Terminal", std::nullopt, "Terminal"},
               {std::nullopt, "com.apple.Terminal", "Terminal"},
               {"iTerm.app", std::nullopt, "iTerm2"},
               {"", "com.googlecode.iterm2", "iTerm2"},
               {"WarpTerminal", std::nullopt, "Warp"},
               {"WezTerm", std::nullopt, "WezTerm"},
               {"vscode", std::nullopt, "Code"},
               {std::nullopt, "com.microsoft.VSCode", "Code"},
               {"tabby-x", std::nullopt, std::nullopt},
               {std::nullopt, "dev.warp.Warp", std::nullopt},
               {"", "", std::nullopt},
               {std::nullopt, std::nullopt, std::nullopt},
               // The first row that applies wins.
               {"WarpTerminal", "com.apple.Terminal", "Terminal"}};
  for (const auto& c : cases) {
    EXPECT_EQ(terminal_app_from_env(c.term, c.bundle), c.app)
        << c.term.value_or("-") << " " << c.bundle.value_or("-");
  }
}

TEST(Terminal, JsonStringEscapesExactlyTheControlCharacters) {
  struct Case {
    std::string in, out;
  } cases[] = {{"", "\"\""},
               {"a\"b\\c", "\"a\\\"b\\\\c\""},
               {"\n\r\t", "\"\\n\\r\\t\""},
               {std::string("\x01\x1b\x08\x0c\x1f", 5), "\"\\u0001\\u001b\\u0008\\u000c\\u001f\""},
               {std::string(1, '\0'), "\"\\u0000\""},
               {"\x7f/é“会话”", "\"\x7f/é“会话”\""},
               {"bad\xff", "\"bad\xEF\xBF\xBD\""}};
  for (const auto& c : cases) EXPECT_EQ(json_string(c.in), c.out);
  EXPECT_EQ(json_u32(std::nullopt), "null");
  EXPECT_EQ(json_u32(4294967295u), "4294967295");
}

TEST(Terminal, RegistrationBodyHasTwelveMembersInFixedOrder) {
  LauncherTerminalMeta meta;
  meta.pid = 4242;
  meta.pid_chain = {4242};
  const std::string all_null =
      "{\"tmux_name\":\"om-0badcafe\",\"tool\":\"claude\",\"cwd\":\"/w\",\"launcher_pid\":4242,"
      "\"launcher_parent_pid\":null,\"launcher_tty\":null,\"launcher_term_program\":null,"
      "\"launcher_bundle_id\":null,\"launcher_terminal_app\":null,\"launcher_terminal_pid\":null,"
      "\"launcher_pid_chain\":[4242],\"launcher_terminal_hwnd\":null}";
  EXPECT_EQ(registration_body("om-0badcafe", "claude", "/w", meta), all_null);

  meta = {4242,
          4100,
          "ttys003",
          "iTerm.app",
          "com.googlecode.iterm2",
          "iTerm2",
          620,
          {4242, 4100, 4099, 620},
          77};
  EXPECT_EQ(
      registration_body("om-1", "./c", "/a\tb", meta),
      "{\"tmux_name\":\"om-1\",\"tool\":\"./c\",\"cwd\":\"/a\\tb\",\"launcher_pid\":4242,"
      "\"launcher_parent_pid\":4100,\"launcher_tty\":\"ttys003\",\"launcher_term_program\":"
      "\"iTerm.app\",\"launcher_bundle_id\":\"com.googlecode.iterm2\",\"launcher_terminal_app\":"
      "\"iTerm2\",\"launcher_terminal_pid\":620,\"launcher_pid_chain\":[4242,4100,4099,620],"
      "\"launcher_terminal_hwnd\":null}");
}

}  // namespace
}  // namespace ombrel::launcher
