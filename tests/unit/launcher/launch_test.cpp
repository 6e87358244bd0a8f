#include "launch.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fake_runner.hpp"
#include "temp_dir.hpp"

namespace ombrel::launcher {
namespace {

// clang-format off
TEST(Launch, FindsTheSessionIdByTextSearch) {
  const std::nullopt_t none = std::nullopt;
  struct { std::string body; std::optional<std::string> id; } cases[] = {
      {"{\"ai_session_id\": \"abc\"}", "abc"}, {"{\"x\":1,\"ai_session_id\":\n\t\"a-b\",\"y\":2}", "a-b"},
      {"{\"ai_session_id\":\"a\\\"b\"}", "a\\"},  // escapes are not interpreted
      {"{\"ai_session_id\", \"k\": \"v\"}", "v"},  // the first colon after the key
      {"{\"ai_session_id\": null}", none}, {"{\"ai_session_id\": \"\"}", none},
      {"{\"ai_session_id\": \"open", none}, {"{\"ai_session_id\"}", none}, {"{ai_session_id: \"a\"}", none}};
  for (const auto& c : cases) EXPECT_EQ(extract_ai_session_id(c.body), c.id) << c.body;
}

TEST(Launch, OnlyIdsSafeToPasteAreShown) {
  struct { std::string id; bool safe; } cases[] = {
      {"a-Z_0.9:x@y+z", true}, {std::string(200, 'a'), true}, {std::string(201, 'a'), false}, {"", false},
      {"a b", false}, {"a;b", false}, {"$(id)", false}, {"a\x1b[2J", false}, {"a\nb", false}, {"a\\", false},
      {"caf\xc3\xa9", false}};
  for (const auto& c : cases) EXPECT_EQ(is_safe_session_id(c.id), c.safe) << c.id;
}

TEST(Launch, TmuxIsAvailableByFixedPathOrByItsVersionProbe) {
  ombrel::test::TempDir dir;
  const std::string present = dir.write("tmux", "").string(), absent = dir.str() + "/none";
  struct { std::vector<const char*> paths; int probe; bool available; } cases[] = {  // probe -1: cannot start
      {{absent.c_str(), present.c_str()}, 1, true}, {{absent.c_str()}, 0, true},
      {{absent.c_str()}, 1, false}, {{absent.c_str()}, -1, false}};
  for (const auto& c : cases) {
    test::FakeRunner runner([&](const Command&) -> Result<Captured> {
      return c.probe < 0 ? Result<Captured>(fail("No such file or directory")) : test::exited(c.probe);
    });
    EXPECT_EQ(tmux_available(c.paths, runner), c.available);
    EXPECT_EQ(runner.commands.size(), c.paths.size() == 1 ? 1u : 0u);
    for (const auto& cmd : runner.commands) EXPECT_EQ(cmd.argv, (std::vector<std::string>{"tmux", "-V"}));
  }
}
// clang-format on

TEST(Launch, PathSearchWantsExecutableRegularFiles) {
  ombrel::test::TempDir dir;
  for (auto [name, mode] : {std::pair{"tool", 0755}, {"grp", 0610}, {"plain", 0644}}) {
    chmod(dir.write(name, "#!/bin/sh\n").c_str(), static_cast<mode_t>(mode));
  }
  std::filesystem::create_directories(dir.path() / "dir");
  const std::string bin = dir.str();
  EXPECT_EQ(find_on_path("tool", "/nonexistent:" + bin + "/"), bin + "/tool");
  EXPECT_EQ(find_on_path("grp", "::" + bin), bin + "/grp");
  EXPECT_EQ(find_on_path("plain", bin), std::nullopt);
  EXPECT_EQ(find_on_path("dir", bin), std::nullopt);
  EXPECT_EQ(find_on_path("tool", bin, [](std::string_view) { return true; }), std::nullopt);
}

}  // namespace
}  // namespace ombrel::launcher
