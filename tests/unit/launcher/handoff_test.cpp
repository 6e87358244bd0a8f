#include "handoff.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "temp_dir.hpp"

namespace ombrel::launcher {
namespace {

using Strings = std::vector<std::string>;

Strings sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

// clang-format off
TEST(Handoff, TheToolGetsTheLaunchersEnvironmentOverThePanesButTmuxsOwnVariables) {
  const Strings handed = {"PATH=/u", "TERM=xterm", "TERM_PROGRAM=iTerm.app", "TERM_PROGRAM_VERSION=3", "A=1=2"};
  struct { Strings pane, tool; } cases[] = {
      {{"TMUX=/s,1,0", "TMUX_PANE=%1", "TERM=tmux-256color", "TERM_PROGRAM=tmux", "TERM_PROGRAM_VERSION=3.3a",
        "PATH=/bin", "OLD=1"},
       {"PATH=/u", "A=1=2", "TMUX=/s,1,0", "TMUX_PANE=%1", "TERM=tmux-256color", "TERM_PROGRAM=tmux",
        "TERM_PROGRAM_VERSION=3.3a", "OLD=1"}},
      // A tmux that does not name itself: the terminal's TERM_PROGRAM reaches the tool.
      {{"TERM=screen", "TERM_PROGRAM=Apple_Terminal"},
       {"PATH=/u", "TERM_PROGRAM=iTerm.app", "TERM_PROGRAM_VERSION=3", "A=1=2", "TERM=screen"}}};
  for (const auto& c : cases) EXPECT_EQ(sorted(tool_environment(c.pane, handed)), sorted(c.tool));
}

TEST(Handoff, EncodingKeepsEveryWordAndRefusesWhatItDidNotWrite) {
  const Handoff h{{"./my agent", "", "a;b\nc", "x=y"}, {"K=v w", "E="}};
  auto back = decode_handoff(encode_handoff(h));
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(back.value().argv, h.argv);
  EXPECT_EQ(back.value().env, h.env);
  using namespace std::string_literals;
  for (const std::string& bad : {""s, "ombrel-handoff-1\0"s "0\0"s, "ombrel-handoff-1\0"s "2\0a\0"s,
                                 "ombrel-handoff-1\0"s "1\0a\0NOEQ\0"s, "ombrel-handoff-1\0"s "1\0a"s,
                                 "other\0"s "1\0a\0"s}) {
    EXPECT_FALSE(decode_handoff(bad)) << bad;
  }
}
// clang-format on

// The exec step in this process: every road here ends before exec succeeds.
TEST(Handoff, TheExecStepTrustsOnlyAPrivateDirectoryAndAlwaysCleansItUp) {
  ombrel::test::TempDir parent;
  auto make = [&](const std::string& content) {
    auto dir = HandoffDir::create(parent.str());
    EXPECT_TRUE(dir) << dir.error();
    EXPECT_TRUE(dir.value().write(content));
    return std::move(dir.value());
  };
  {
    HandoffDir dir = make(encode_handoff({{"ombrel-no-such-tool"}, {"PATH=/nonexistent"}}));
    struct stat d, f;
    ASSERT_EQ(stat(dir.path().c_str(), &d), 0);
    ASSERT_EQ(stat((dir.path() + "/env").c_str(), &f), 0);
    EXPECT_EQ(d.st_mode & 0777, 0700u);
    EXPECT_EQ(f.st_mode & 0777, 0600u);
    EXPECT_EQ(run_exec_step(dir.path()), 127);
    EXPECT_EQ(dir.exec_error(), std::string(std::strerror(ENOENT)));
    EXPECT_FALSE(std::filesystem::exists(dir.path())) << "removed as soon as read";
  }
  {
    HandoffDir dir = make("garbage");
    EXPECT_EQ(run_exec_step(dir.path()), 127);
    EXPECT_EQ(dir.exec_error(), "malformed handoff file");
  }
  {  // a directory others may write into is not read at all
    HandoffDir dir = make(encode_handoff({{"true"}, {}}));
    chmod(dir.path().c_str(), 0733);
    EXPECT_EQ(run_exec_step(dir.path()), 127);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/env"));
    EXPECT_EQ(dir.exec_error(), std::nullopt);
  }
  {  // nor a planted link in place of the file
    HandoffDir dir = make("");
    std::filesystem::remove(dir.path() + "/env");
    std::filesystem::create_symlink(parent.write("elsewhere", encode_handoff({{"true"}, {}})),
                                    dir.path() + "/env");
    EXPECT_EQ(run_exec_step(dir.path()), 127);
    EXPECT_EQ(dir.exec_error(), "env: " + std::string(std::strerror(ELOOP)));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(parent.path()), {}), 1)
      << "only the planted target is left";
}

}  // namespace
}  // namespace ombrel::launcher
