#include "launch.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "fake_runner.hpp"
#include "temp_dir.hpp"

namespace ombrel::launcher {
namespace {

using test::exited;
using test::FakeRunner;

TEST(Launch, FindsTheSessionIdByTextSearch) {
  struct Case {
    std::string body;
    std::optional<std::string> id;
  } cases[] = {{"{\"ai_session_id\": \"abc\"}", "abc"},
               {"{\"x\":1,\"ai_session_id\":\n\t\"a-b-c\",\"y\":2}", "a-b-c"},
               {"{\"ai_session_id\":\"a\\\"b\"}", "a\\"},  // escapes are not interpreted
               {"{\"ai_session_id\": null}", std::nullopt},
               {"{\"ai_session_id\": \"\"}", std::nullopt},
               {"{\"ai_session_id\": \"open", std::nullopt},
               {"{\"ai_session_id\"}", std::nullopt},
               {"{ai_session_id: \"abc\"}", std::nullopt},
               {"{\"ai_session_id\", \"k\": \"v\"}", "v"},  // the first colon after the key
               {"", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(extract_ai_session_id(c.body), c.id) << c.body;
}

TEST(Launch, ResumeHintDependsOnClaudeInTheToolWord) {
  const std::string claude =
      "\n[ombrel] 会话 id：abc\n[ombrel] 恢复此会话：\n    claude --resume abc\n"
      "    ombrel run claude --resume abc   # 恢复并保留远程控制\n";
  EXPECT_EQ(resume_hint_text("claude", "abc"), claude);
  EXPECT_EQ(resume_hint_text("/opt/bin/claude-code", "abc"), claude);
  EXPECT_EQ(resume_hint_text("codex", "abc"), "\n[ombrel] 会话 id：abc\n");
  EXPECT_EQ(resume_hint_text("Claude", "abc"), "\n[ombrel] 会话 id：abc\n");
  EXPECT_EQ(detached_hint_text("om-12345678"),
            "\n[ombrel] 已分离，会话仍在后台运行（手机仍可远程控制）。\n"
            "    tmux attach -t om-12345678   # 重新连接\n");
}

TEST(Launch, TmuxIsAvailableByFixedPathOrByItsVersionProbe) {
  ombrel::test::TempDir dir;
  const std::string present = dir.write("tmux", "").string();
  const std::string absent = dir.str() + "/nothing";
  struct Case {
    std::vector<const char*> paths;
    int probe_status;  // -1: the probe cannot start
    bool available;
    std::size_t probes;
  } cases[] = {{{absent.c_str(), present.c_str()}, 1, true, 0},
               {{absent.c_str()}, 0, true, 1},
               {{absent.c_str()}, 1, false, 1},
               {{absent.c_str()}, -1, false, 1}};
  for (const auto& c : cases) {
    FakeRunner runner([&](const Command&) -> Result<Captured> {
      if (c.probe_status < 0) return fail("No such file or directory");
      return exited(c.probe_status);
    });
    EXPECT_EQ(tmux_available(c.paths, runner), c.available);
    ASSERT_EQ(runner.commands.size(), c.probes);
    if (c.probes) {
      EXPECT_EQ(runner.commands[0].argv, (std::vector<std::string>{"tmux", "-V"}));
    }
  }
}

TEST(Launch, SessionCommandPassesTheEnvironmentInOrderWithoutTmuxOwnVariables) {
  const std::vector<std::string> env = {"B=2",     "TMUX=/tmp/s,1,0",      "A==x", "TMUX_PANE=%1",
                                        "TMUXX=1", "OM_TMUX_SESSION=om-1", "junk"};
  EXPECT_EQ(tmux_session_command("om-1", env, "/w d", "claude", {"--resume", "a b"}),
            (std::vector<std::string>{"tmux", "new-session", "-A", "-s", "om-1", "-e", "B=2", "-e",
                                      "A==x", "-e", "TMUXX=1", "-e", "OM_TMUX_SESSION=om-1", "-c",
                                      "/w d", "claude", "--resume", "a b"}));
}

TEST(Launch, ToolsResolveOnPathOrAsExecutableFiles) {
  ombrel::test::TempDir dir;
  auto make = [&](const std::string& name, mode_t mode) {
    auto path = dir.write(name, "#!/bin/sh\n").string();
    chmod(path.c_str(), mode);
    return path;
  };
  const std::string tool = make("bin/tool", 0755), only_group = make("bin/grp", 0610);
  make("bin/plain", 0644);
  std::filesystem::create_directories(dir.path() / "bin/dir");
  const std::string bin = dir.str() + "/bin";
  EXPECT_EQ(find_on_path("tool", "/nonexistent:" + bin + "/"), tool);
  EXPECT_EQ(find_on_path("grp", "::" + bin), only_group);
  EXPECT_EQ(find_on_path("plain", bin), std::nullopt);
  EXPECT_EQ(find_on_path("dir", bin), std::nullopt);
  EXPECT_EQ(find_on_path("tool", bin, [](std::string_view) { return true; }), std::nullopt);

  setenv("PATH", ("/nonexistent:" + bin).c_str(), 1);
  unsetenv("WSL_DISTRO_NAME");
  unsetenv("WSL_INTEROP");
  EXPECT_EQ(resolve_tool_command("tool"), "tool");  // the bare word, not the match
  EXPECT_EQ(resolve_tool_command(tool), tool);
  EXPECT_EQ(resolve_tool_command(bin + "/plain"), std::nullopt);
  EXPECT_EQ(resolve_tool_command(bin + "/dir"), std::nullopt);
  EXPECT_EQ(resolve_tool_command("plain"), std::nullopt);
  EXPECT_EQ(resolve_tool_command("bin\\tool"), std::nullopt);  // a path: PATH is not searched
}

TEST(Launch, ShortIdsAreEightRandomHexDigits) {
  const std::string a = short_id(), b = short_id();
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{8}"))) << a;
  EXPECT_TRUE(std::regex_match(b, std::regex("[0-9a-f]{8}"))) << b;
  EXPECT_NE(a, b);  // equal only once in 2^32 runs
}

}  // namespace
}  // namespace ombrel::launcher
