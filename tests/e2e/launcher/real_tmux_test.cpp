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

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "fake_server.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

std::string find_on_path(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
    end = path.find(':', at);
    std::string candidate = path.substr(at, end - at) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::vector<char*> c_strings(const std::vector<std::string>& items) {
  std::vector<char*> out;
  for (const auto& s : items) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

struct PtyRun {
  std::string screen;  // everything written to the terminal
  int status = -1;
};

// Runs argv as the session leader of a new pseudo-terminal and collects what it writes.
PtyRun run_in_pty(const std::vector<std::string>& argv, const Environment& env) {
  PtyRun run;
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
  const std::string slave = ptsname(master);
  winsize size{24, 80, 0, 0};
  auto args = c_strings(argv);
  auto envp = c_strings(env.entries());
  pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls from here on
    setsid();
    int fd = open(slave.c_str(), O_RDWR);
    ioctl(fd, TIOCSCTTY, 0);
    ioctl(fd, TIOCSWINSZ, &size);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    if (fd > 2) close(fd);
    close(master);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  // Drain the terminal until the last writer is gone; the bound only guards a broken run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buf[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    ssize_t r = read(master, buf, sizeof buf);
    if (r <= 0) break;  // EIO on Linux once the slave side is closed
    run.screen.append(buf, static_cast<std::size_t>(r));
  }
  if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(master);
  return run;
}

TEST(LauncherRealTmux, ToolRunsInTheNamedSessionAndIsLookedUpAfterItEnds) {
  const std::string tmux = find_on_path("tmux");
  if (tmux.empty()) GTEST_SKIP() << "tmux is not installed";
  TempDir dir;
  const std::string sockets = dir.str() + "/sockets", name_file = dir.str() + "/name";
  std::filesystem::create_directories(sockets);
  FakeServer server([](const Request& r) {
    return Reply{json_ok(r.path == "/tmux/lookup" ? "{\"ai_session_id\": \"sess-42\"}" : "{}")};
  });
  Environment env = Environment::current();
  env.unset("TMUX").unset("TMUX_PANE");
  env.set("TMUX_TMPDIR", sockets).set("TERM", "xterm").set("OMBREL_SERVER", server.url());
  struct KillServer {  // whatever happens, no tmux server outlives the test
    ProcessOptions options;
    ~KillServer() { run_process(options); }
  } guard{{{tmux, "kill-server"}, env, "", false, "", std::chrono::milliseconds(20000)}};

  auto run = run_in_pty({std::string(OMBREL_LAUNCHER_DIR) + "/ombrel", "run", "sh", "-c",
                         "printf %s \"$OM_TMUX_SESSION\" > '" + name_file + "'; exit 3"},
                        env);

  const std::string name = read_file(name_file);
  EXPECT_TRUE(std::regex_match(name, std::regex("om-[0-9a-f]{8}"))) << name;
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u) << run.screen;
  EXPECT_EQ(requests[0].body.rfind("{\"tmux_name\":\"" + name + "\",\"tool\":\"sh\",", 0), 0u);
  EXPECT_EQ(requests[1].body, "{\"tmux_name\":\"" + name + "\"}");
  EXPECT_NE(run.screen.find("[ombrel] 会话 id：sess-42"), std::string::npos) << run.screen;
  // The launcher exits with tmux's own status; tmux's client reports a session whose last
  // pane ended as a normal exit (0), not the tool's status.
  EXPECT_EQ(run.status, 0) << run.screen;
  ProcessOptions has{{tmux, "has-session", "-t", "=" + name}, env, "", false, "",
                     std::chrono::milliseconds(20000)};
  EXPECT_NE(run_process(has).exit_code, 0) << "the session ended with the tool";
}

}  // namespace
}  // namespace ombrel::test
