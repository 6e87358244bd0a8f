// The launcher with the real tmux, inside a pseudo-terminal as a user would run it, with a
// private socket directory so that no tmux server of the user is touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <future>
#include <regex>
#include <thread>

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
std::pair<std::string, int> run_in_pty(const std::vector<std::string>& argv, const Environment& env,
                                       const std::string& cwd = "") {
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
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
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

class LauncherRealTmux : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/opt/local/bin"}) {
      if (tmux.empty() && access((std::string(d) + "/tmux").c_str(), X_OK) == 0) tmux = d;
    }
    if (tmux.empty()) GTEST_SKIP() << "tmux is not installed";
    env.unset("TMUX").unset("TMUX_PANE").set("PATH", tmux + ":/usr/bin:/bin");
    tmux += "/tmux";
    env.set("TMUX_TMPDIR", dir.str()).set("TERM", "xterm").set("OMBREL_SERVER", server.url());
  }
  void TearDown() override {  // whatever happens, no tmux server outlives the test
    if (!tmux.empty()) tmux_says({"kill-server"});
  }
  std::string tmux_says(std::vector<std::string> args) {
    args.insert(args.begin(), tmux);
    return run_process({args, env, "", false, "", std::chrono::milliseconds(20000)}).out;
  }
  // Waits up to 20 s for a file the session writes.
  std::string await_file(const std::string& path) {
    for (int i = 0; i < 400 && access(path.c_str(), F_OK) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return access(path.c_str(), F_OK) == 0 ? read_file(path) : "";
  }
  std::string script(const std::string& name, const std::string& body) {
    const std::string path = dir.write(name, "#!/bin/sh\n" + body).string();
    chmod(path.c_str(), 0755);
    return path;
  }
  const std::string launcher = std::string(OMBREL_LAUNCHER_DIR) + "/ombrel";
  std::string tmux;
  TempDir dir;
  FakeServer server{[](const Request& r) {
    return Reply{json_ok(r.path == "/tmux/lookup" ? "{\"ai_session_id\": \"sess-42\"}" : "{}")};
  }};
  Environment env = Environment::current();
};

TEST_F(LauncherRealTmux, ToolRunsInTheNamedSessionAndIsLookedUpAfterItEnds) {
  const std::string name_file = dir.str() + "/name";
  auto [screen, status] = run_in_pty(
      {launcher, "run", "sh", "-c", "printf %s \"$OM_TMUX_SESSION\" > " + name_file + "; exit 3"},
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

// A 64 KiB environment (tmux refuses a command line over about 16 KiB) with a secret in it,
// and a tool path that a shell would split at the space and the ";".
TEST_F(LauncherRealTmux, TheEnvironmentIsOnNoCommandLineAndTheToolRunsWithoutAShell) {
  const std::string d = dir.str(), secret = "s3cr3t-" + std::to_string(getpid()) + "-value";
  env.set("OMBREL_BIG", std::string(64 << 10, 'x')).set("OMBREL_SECRET", secret);
  script("my agent;touch X",
         "printf '%s\\n' \"$OM_TMUX_SESSION\" \"${#OMBREL_BIG}\" \"$OMBREL_SECRET\" > '" + d +
             "/seen'\ni=0; while [ ! -f '" + d +
             "/go' ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n");
  auto run = std::async(std::launch::async, [&] {
    return run_in_pty({launcher, "run", "./my agent;touch X"}, env, d);
  });
  const std::string seen = await_file(d + "/seen");
  // Every process's command line while the launcher, tmux's client and server and the tool live.
  const std::string ps = std::filesystem::exists("/bin/ps") ? "/bin/ps" : "/usr/bin/ps";
  ProcessOptions list;
  list.argv = {ps, "-A", "-ww", "-o", "args="};
  list.env = env;
  const std::string lines = run_process(list).out;
  dir.write("go", "");
  const auto [screen, status] = run.get();
  const std::string name = seen.substr(0, seen.find('\n'));
  EXPECT_EQ(seen, name + "\n65536\n" + secret + "\n") << screen;
  EXPECT_NE(lines.find("new-session -A -s " + name), std::string::npos) << "tmux is in the list";
  EXPECT_EQ(lines.find(secret), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(d + "/X"));
  EXPECT_EQ(status, 0) << screen;
}

// The user's own client, on a session whose pane runs the launcher, is moved to the new
// session, and back when the tool ends; the hint is printed in the pane it came from.
TEST_F(LauncherRealTmux, InsideTmuxTheClientMovesToTheSessionAndBack) {
  const std::string d = dir.str();
  // The tool records where the user's client is once it has arrived (or after 5 s).
  const std::string tool = script(
      "tool", "printf %s \"$OM_TMUX_SESSION\" > '" + d + "/name'\ni=0; while [ $i -lt 100 ]; do\n" +
                  "  c=$(" + tmux + " list-clients -F '#{client_session}')\n" +
                  "  [ \"$c\" = \"$OM_TMUX_SESSION\" ] && break; i=$((i+1)); sleep 0.05\ndone\n" +
                  "echo \"$c\" > '" + d + "/clients'\nsleep 1\n");
  // The pane waits for the user's client to attach, then runs the launcher. The client also
  // starts the server: one started by a client with captured output would keep that output
  // open for its whole life, and a tmux asked while the server starts may be the one that does.
  const std::string home =
      script("home", "i=0; while [ -z \"$(" + tmux + " list-clients)\" ] && [ $i -lt 200 ]; do\n" +
                         "  sleep 0.05; i=$((i+1))\ndone\n'" + launcher + "' run '" + tool +
                         "' > '" + d + "/out' 2>&1; echo $? > '" + d + "/status'\nsleep 60\n");
  auto client = std::async(std::launch::async, [&] {
    return run_in_pty({tmux, "new-session", "-s", "home", home}, env);
  });
  const std::string status = await_file(d + "/status");
  const std::string name = await_file(d + "/name");
  EXPECT_EQ(status, "0\n") << await_file(d + "/out");
  EXPECT_EQ(await_file(d + "/clients"), name + "\n") << "the user's client showed the session";
  EXPECT_EQ(tmux_says({"list-clients", "-F", "#{client_session}"}), "home\n");
  EXPECT_NE(await_file(d + "/out").find("[ombrel] 会话 id：sess-42"), std::string::npos);
  tmux_says({"kill-server"});
  client.get();
}

}  // namespace
}  // namespace ombrel::test
