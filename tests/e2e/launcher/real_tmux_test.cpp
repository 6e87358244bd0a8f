// The launcher with the real tmux, inside a pseudo-terminal as a user would run it, with a
// private socket directory so that no tmux server of the user is touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <regex>

#include "fake_server.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

std::vector<char*> c_strings(const std::vector<std::string>& items) {
  std::vector<char*> out;
  for (const auto& s : items) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Runs argv as the session leader of a new 80x24 terminal; returns what it wrote there and
// its exit status (-1 when it did not exit normally).
std::pair<std::string, int> run_in_pty(const std::vector<std::string>& argv,
                                       const Environment& env) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {"no pty", -1};
  const std::string slave = ptsname(master);
  const winsize size{24, 80, 0, 0};
  auto args = c_strings(argv), envp = c_strings(env.entries());
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls from here on
    setsid();
    int fd = open(slave.c_str(), O_RDWR);
    ioctl(fd, TIOCSCTTY, 0);
    ioctl(fd, TIOCSWINSZ, &size);
    for (int std_fd : {0, 1, 2}) dup2(fd, std_fd);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  // Read until the last writer has gone (EIO on Linux); the deadline only guards a broken run.
  std::string screen;
  char buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
    if (poll(&p, 1, 200) <= 0) continue;
    ssize_t r = read(master, buf, sizeof buf);
    if (r <= 0) break;
    screen.append(buf, static_cast<std::size_t>(r));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  return {screen, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(LauncherRealTmux, ToolRunsInTheNamedSessionAndIsLookedUpAfterItEnds) {
  std::string tmux;
  for (const char* dir : {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/opt/local/bin"}) {
    if (tmux.empty() && access((std::string(dir) + "/tmux").c_str(), X_OK) == 0) tmux = dir;
  }
  if (tmux.empty()) GTEST_SKIP() << "tmux is not installed";
  TempDir dir;
  FakeServer server([](const Request& r) {
    return Reply{json_ok(r.path == "/tmux/lookup" ? "{\"ai_session_id\": \"sess-42\"}" : "{}")};
  });
  Environment env = Environment::current();
  env.unset("TMUX").unset("TMUX_PANE").set("PATH", tmux + ":/usr/bin:/bin");
  tmux += "/tmux";
  env.set("TMUX_TMPDIR", dir.str()).set("TERM", "xterm").set("OMBREL_SERVER", server.url());
  struct KillServer {  // whatever happens, no tmux server outlives the test
    ProcessOptions options;
    ~KillServer() { run_process(options); }
  } guard{{{tmux, "kill-server"}, env, "", false, "", std::chrono::milliseconds(20000)}};

  const std::string name_file = dir.str() + "/name";
  auto [screen, status] =
      run_in_pty({std::string(OMBREL_LAUNCHER_DIR) + "/ombrel", "run", "sh", "-c",
                  "printf %s \"$OM_TMUX_SESSION\" > " + name_file + "; exit 3"},
                 env);

  const std::string name = read_file(name_file);
  EXPECT_TRUE(std::regex_match(name, std::regex("om-[0-9a-f]{8}"))) << name;
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u) << screen;
  EXPECT_TRUE(requests[0].body.starts_with("{\"tmux_name\":\"" + name + "\",\"tool\":\"sh\","));
  EXPECT_EQ(requests[1].body, "{\"tmux_name\":\"" + name + "\"}");
  EXPECT_NE(screen.find("[ombrel] 会话 id：sess-42"), std::string::npos) << screen;
  // The launcher exits with tmux's status, and tmux's client reports a session whose last
  // pane ended as a normal exit: 0, not the tool's 3.
  EXPECT_EQ(status, 0) << screen;
}

}  // namespace
}  // namespace ombrel::test
