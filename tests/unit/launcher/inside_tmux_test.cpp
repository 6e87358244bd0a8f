#include "inside_tmux.hpp"

#include <gtest/gtest.h>

#include "fake_runner.hpp"

namespace ombrel::launcher {
namespace {

// clang-format off
TEST(InsideTmux, TheClientShowingThePaneAndTheWaitUntilItLeaves) {
  struct { std::vector<Result<Captured>> answers; std::optional<std::string> client; } finds[] = {
      {{test::exited(0, "$4 /dev/pts/7\n")}, "/dev/pts/7"}, {{test::exited(0, "\n")}, std::nullopt},
      {{test::exited(1, "", "no server running on /tmp/x\n")}, std::nullopt}};
  for (const auto& c : finds) {
    test::FakeRunner runner([&](const Command&) { return c.answers[0]; });
    auto found = current_tmux_client(runner);
    EXPECT_EQ(found ? std::optional(found.value().name) : std::nullopt, c.client);
    if (found) {
      EXPECT_EQ(found.value().origin, "$4");
    }
  }
  // Asked until the client shows another session, is gone, or tmux fails.
  struct { std::vector<Result<Captured>> answers; } waits[] = {
      {{test::exited(0, "om-1\n"), test::exited(0, "om-1\n"), test::exited(0, "home\n")}},
      {{test::exited(0, "om-1\n"), test::exited(0, "")}}, {{fail("No such file or directory")}}};
  for (const auto& c : waits) {
    std::size_t asked = 0;
    test::FakeRunner runner([&](const Command&) { return c.answers.at(asked++); });
    wait_until_left({"/dev/pts/7", "$4"}, "om-1", runner);
    EXPECT_EQ(asked, c.answers.size());
    EXPECT_EQ(runner.commands.back().argv,
              (std::vector<std::string>{"tmux", "display-message", "-p", "-c", "/dev/pts/7", "#{client_session}"}));
  }
}
// clang-format on

}  // namespace
}  // namespace ombrel::launcher
