#include "process.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

namespace ombrel::launcher {
namespace {

TEST(PosixProcessRunner, FeedsInputWhileDrainingBothStreams) {
  // More than a pipe holds in each direction: feeding and draining must interleave.
  const std::string input(1 << 20, 'x');
  PosixProcessRunner runner;
  auto r = runner.run({{"sh", "-c", "head -c 200000 /dev/zero >&2; cat; exit 7"}, input});
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r.value().out, input);
  EXPECT_EQ(r.value().err, std::string(200000, '\0'));
  EXPECT_FALSE(r.value().status.success());
  EXPECT_EQ(r.value().status.code, 7);
  EXPECT_TRUE(r.value().input_error.empty());
}

TEST(PosixProcessRunner, ReportsFailuresAsValues) {
  PosixProcessRunner runner;
  auto missing = runner.run({{"ombrel-no-such-program"}, std::nullopt});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), "No such file or directory");

  // The child leaves without reading: our write fails instead of SIGPIPE ending us.
  auto deaf = runner.run({{"true"}, std::string(1 << 20, 'x')});
  ASSERT_TRUE(deaf) << deaf.error();
  EXPECT_EQ(deaf.value().input_error, "Broken pipe");

  auto killed = run_console({"sh", "-c", "kill -TERM $$"});
  ASSERT_TRUE(killed);
  EXPECT_TRUE(killed.value().signaled);
  EXPECT_EQ(killed.value().code, SIGTERM);
}

TEST(PosixProcessRunner, ChildrenStartWithDefaultSignalsAndEmptyMask) {
  if (!std::filesystem::exists("/proc/self/status")) GTEST_SKIP() << "needs /proc";
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  auto old_int = signal(SIGINT, SIG_IGN);
  PosixProcessRunner runner;
  auto r = runner.run({{"cat", "/proc/self/status"}, std::nullopt});
  signal(SIGINT, old_int);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_TRUE(r) << r.error();
  // Bit n-1 stands for signal n. glibc's spawn itself leaves its two reserved real-time
  // signals (32 and 33) ignored, so only the ordinary signals are checked there.
  auto mask = [&](const std::string& field) {
    auto at = r.value().out.find(field + ":\t");
    return at == std::string::npos ? ~0ull
                                   : std::stoull(r.value().out.substr(at + 8, 16), nullptr, 16);
  };
  EXPECT_EQ(mask("SigBlk"), 0u) << r.value().out;
  EXPECT_EQ(mask("SigIgn") & 0x7FFFFFFFull, 0u) << r.value().out;
}

}  // namespace
}  // namespace ombrel::launcher
