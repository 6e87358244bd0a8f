#include "process.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

namespace ombrel::launcher {
namespace {

TEST(PosixProcessRunner, FeedsAndDrainsTogetherAndReportsFailuresAsValues) {
  // More than a pipe holds each way: writing stdin and draining stderr must interleave.
  const std::string input(1 << 20, 'x');
  PosixProcessRunner runner;
  auto r = runner.run({{"sh", "-c", "head -c 200000 /dev/zero >&2; cat; exit 7"}, input});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r.value().out, input);
  EXPECT_EQ(r.value().err, std::string(200000, '\0'));
  EXPECT_EQ(r.value().status.code, 7);

  auto missing = runner.run({{"ombrel-no-such-program"}, std::nullopt});
  EXPECT_EQ(missing ? "" : missing.error(), "No such file or directory");
  // A child that leaves without reading makes the write fail instead of raising SIGPIPE.
  auto deaf = runner.run({{"true"}, input});
  ASSERT_TRUE(deaf) << deaf.error();
  EXPECT_EQ(deaf.value().input_error, "Broken pipe");
  // A helper that hangs is killed at its limit, even with a grandchild holding its output.
  Command hung{{"sh", "-c", "sleep 30 & sleep 30"}, std::nullopt, std::chrono::milliseconds{100}};
  auto slow = runner.run(hung);
  ASSERT_TRUE(slow) << slow.error();
  EXPECT_TRUE(slow.value().timed_out);
  EXPECT_TRUE(slow.value().status.signaled && slow.value().status.code == SIGKILL);
  auto killed = run_console({"sh", "-c", "kill -TERM $$"});
  ASSERT_TRUE(killed);
  EXPECT_TRUE(killed.value().signaled && killed.value().code == SIGTERM);
}

TEST(PosixProcessRunner, ChildrenStartWithDefaultSignalsAndEmptyMask) {
  if (!std::filesystem::exists("/proc/self/status")) GTEST_SKIP() << "needs /proc";
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old);
  auto old_int = signal(SIGINT, SIG_IGN);
  auto r = PosixProcessRunner().run({{"cat", "/proc/self/status"}, std::nullopt});
  signal(SIGINT, old_int);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_TRUE(r) << r.error();
  auto mask = [&](const std::string& field) {  // bit n-1 stands for signal n
    auto at = r.value().out.find(field + ":\t");
    return at == std::string::npos ? ~0ull
                                   : std::stoull(r.value().out.substr(at + 8, 16), nullptr, 16);
  };
  EXPECT_EQ(mask("SigBlk"), 0u);
  // glibc's spawn itself leaves its reserved signals 32 and 33 ignored.
  EXPECT_EQ(mask("SigIgn") & 0x7FFFFFFFull, 0u);
}

}  // namespace
}  // namespace ombrel::launcher
