// The launcher run as users type it, with fake tmux, ps, osascript and curl.exe first on
// PATH. Each fake appends "<program> <first argument>" to the file "calls", keeps its full
// argument list (NUL-separated) and answers from files the test writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>

#include "fake_server.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

const std::string kOmbrel = std::string(OMBREL_LAUNCHER_DIR) + "/ombrel";
const std::string kUsage = "用法: ombrel run <tool> [args...]\n示例: ombrel run claude\n";

const char* kFakeTmux = R"sh(echo "tmux $1" >> "$L/calls"
case "$1" in
  -V) exit 0 ;;
  new-session) printf '%s\0' "$@" > "$L/new-session"
    [ -f "$L/tmux-killed" ] && kill -KILL $$
    exit "$(cat "$L/tmux-exit" 2>/dev/null || echo 0)" ;;
  has-session) printf '%s\0' "$@" > "$L/has-session"
    exit "$(cat "$L/has-exit" 2>/dev/null || echo 1)" ;;
esac
exit 99)sh";

const char* kFakePs = R"sh(echo "ps $2 $4" >> "$L/calls"
if [ "$2" = tty= ]; then f="$L/tty"; else f="$L/ppid.$4"; [ -f "$f" ] || f="$L/ppid.default"; fi
[ -f "$f" ] && exec cat "$f"
exit 1)sh";

const char* kFakeOsascript =
    R"sh(pid=$(printf '%s\n' "$2" | sed -n 's/.*unix id is \([0-9]*\)$/\1/p')
echo "osascript $pid" >> "$L/calls"
printf '%s\0' "$@" > "$L/osascript.$pid"
[ -f "$L/osa.$pid" ] && exec cat "$L/osa.$pid"
exit 1)sh";

const char* kFakeCurl = R"sh(echo "curl.exe $1" >> "$L/calls"
[ "$1" = --version ] && exit "$(cat "$L/curl-version-exit" 2>/dev/null || echo 0)"
printf '%s\0' "$@" > "$L/curl"
cat > "$L/curl-stdin"
cat "$L/curl-out" 2>/dev/null
cat "$L/curl-err" >&2 2>/dev/null
exit "$(cat "$L/curl-exit" 2>/dev/null || echo 0)")sh";

std::vector<std::string> split_nul(const std::string& text) {
  std::vector<std::string> parts;
  for (std::size_t at = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) {
    parts.push_back(text.substr(at, end - at));
  }
  return parts;
}

class LauncherE2E : public ::testing::Test {
 protected:
  LauncherE2E() {
    for (auto [name, body] : {std::pair{"tmux", kFakeTmux},
                              {"ps", kFakePs},
                              {"osascript", kFakeOsascript},
                              {"curl.exe", kFakeCurl}}) {
      executable("bin/" + std::string(name), "L='" + log + "'\n" + body + "\n");
    }
    for (const char* tool : {"claude", "claude-code", "codex", "run"})
      executable("bin/" + std::string(tool), "");
    std::filesystem::create_directories(log);
    for (const char* name : {"TMUX", "TMUX_PANE", "TERM_PROGRAM", "__CFBundleIdentifier", "WSLENV",
                             "WSL_DISTRO_NAME", "WSL_INTEROP", "CODEX_HOME", "OM_TMUX_SESSION"}) {
      env.unset(name);
    }
    env.set("PATH", bin + ":/usr/bin:/bin").set("OMBREL_SERVER", server.url());
  }

  std::string executable(const std::string& relative, const std::string& body) {
    auto path = dir.write(relative, "#!/bin/sh\n" + body).string();
    chmod(path.c_str(), 0755);
    return path;
  }
  void answer(const std::string& file, const std::string& content) {
    dir.write("log/" + file, content);
  }
  std::string logged(const std::string& file) {
    return std::filesystem::exists(log + "/" + file) ? read_file(log + "/" + file) : "";
  }
  std::vector<std::string> args_of(const std::string& file) { return split_nul(logged(file)); }

  ProcessResult launch(std::vector<std::string> args, const std::string& argv0 = kOmbrel) {
    args.insert(args.begin(), argv0);
    ChildProcess child({args, env, "", false, cwd, std::chrono::milliseconds(20000)});
    pid = child.pid();
    return child.wait();
  }
  // The session name tmux was given; empty when tmux was not started.
  std::string session() {
    auto args = args_of("new-session");
    return args.size() > 3 ? args[3] : "";
  }
  std::string registration() {
    auto requests = server.requests();
    return requests.empty() ? "" : requests[0].body;
  }

  TempDir dir;
  const std::string bin = dir.str() + "/bin", log = dir.str() + "/log";
  std::string register_reply = json_ok("{}"), lookup_reply = json_ok("{}");
  FakeServer server{[this](const Request& r) {
    return Reply{r.path == "/tmux/lookup" ? lookup_reply : register_reply};
  }};
  Environment env = Environment::current();
  std::string cwd = dir.str();
  pid_t pid = -1;
};

TEST_F(LauncherE2E, UsageWithoutAToolWord) {
  for (const std::string& argv0 : {kOmbrel, std::string(OMBREL_LAUNCHER_DIR) + "/ombrel-run"}) {
    for (const auto& args : {std::vector<std::string>{}, {"run"}}) {
      auto r = launch(args, argv0);
      EXPECT_EQ(r.exit_code, 2);
      EXPECT_EQ(r.err, kUsage);
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(logged("calls"), "");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(LauncherE2E, ToolThatCannotBeRunIsRefusedBeforeAnythingStarts) {
  dir.write("notexec", "#!/bin/sh\n");
  std::filesystem::create_directories(dir.path() / "adir");
  chmod((dir.str() + "/adir").c_str(), 0755);
  for (const std::string tool : {"no-such-tool", "./notexec", "./adir", "/nonexistent/tool", ""}) {
    auto r = launch({"run", tool, "arg"});
    EXPECT_EQ(r.exit_code, 127) << tool;
    EXPECT_EQ(r.err, "[ombrel] 无法运行 “" + tool + "”：未在 PATH 中找到该命令。\n" +
                         "    请确认工具名拼写正确且已安装（可用 `which " + tool + "` 检查）。\n");
  }
  EXPECT_EQ(logged("calls").find("ps "), std::string::npos);
  EXPECT_EQ(logged("calls").find("new-session"), std::string::npos);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(LauncherE2E, RegistersThenStartsTmuxWithTheWholeEnvironment) {
  // A directory name that needs every kind of JSON escape.
  cwd = dir.str() + "/w\"q\\b\tt\x01";
  std::filesystem::create_directories(cwd);
  env.set("TMUX", "/tmp/tmux-1/default,1,0").set("OM_TMUX_SESSION", "stale");
  env.set("TMUX_PANE", "%3").set("TERM_PROGRAM", "iTerm.app");
  answer("ppid.default", "500\n");
  answer("ppid.500", "400\n");
  answer("ppid.400", "1\n");
  answer("tty", "ttys003\n");
  answer("osa.500", "iTerm2 Nightly\n");
  answer("osa.400", "ITERM2\n");

  auto r = launch({"run", "claude", "--model", "x y"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string name = session(), L = std::to_string(pid);
  ASSERT_TRUE(std::regex_match(name, std::regex("om-[0-9a-f]{8}"))) << name;

  std::vector<std::string> expected = {"new-session", "-A", "-s", name};
  for (std::string entry : env.entries()) {
    if (entry.rfind("TMUX=", 0) == 0 || entry.rfind("TMUX_PANE=", 0) == 0) continue;
    if (entry.rfind("OM_TMUX_SESSION=", 0) == 0) entry = "OM_TMUX_SESSION=" + name;
    expected.insert(expected.end(), {"-e", entry});
  }
  expected.insert(expected.end(), {"-c", cwd, "claude", "--model", "x y"});
  EXPECT_EQ(args_of("new-session"), expected);

  const std::string body =
      "{\"tmux_name\":\"" + name + "\",\"tool\":\"claude\",\"cwd\":\"" + dir.str() +
      "/w\\\"q\\\\b\\tt\\u0001\",\"launcher_pid\":" + L +
      ",\"launcher_parent_pid\":500,\"launcher_tty\":\"ttys003\",\"launcher_term_program\":"
      "\"iTerm.app\",\"launcher_bundle_id\":null,\"launcher_terminal_app\":\"ITERM2\","
      "\"launcher_terminal_pid\":400,\"launcher_pid_chain\":[" +
      L +
      ",500,400],"
      "\"launcher_terminal_hwnd\":null}";
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw,
            "POST /tmux/register HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  EXPECT_EQ(requests[1].path, "/tmux/lookup");
  EXPECT_EQ(requests[1].body, "{\"tmux_name\":\"" + name + "\"}");
  EXPECT_EQ(args_of("has-session"), (std::vector<std::string>{"has-session", "-t", "=" + name}));
  std::string calls = logged("calls");
  if (calls.rfind("tmux -V\n", 0) == 0) calls.erase(0, 8);  // only without a fixed tmux path
  // parent_pid and pid_chain each ask for the launcher's own parent.
  EXPECT_EQ(calls, "ps ppid= " + L + "\nps ppid= " + L + "\nps ppid= 500\nps ppid= 400\nps tty= " +
                       L + "\nps ppid= 500\nps ppid= 400\nosascript 500\nosascript 400\n" +
                       "tmux new-session\ntmux has-session\n");
  EXPECT_EQ(args_of("osascript.400"),
            (std::vector<std::string>{"-e",
                                      "tell application \"System Events\"\n"
                                      "    set pList to every process whose unix id is 400\n"
                                      "    if (count of pList) > 0 then return name of item 1 of "
                                      "pList\n    return \"\"\nend tell"}));
}

TEST_F(LauncherE2E, TerminalFactsFallBackWhenProbesFail) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> answers, vars;
    std::string tail;  // the body from "launcher_parent_pid" on; {L} is the launcher's pid
  } cases[] = {
      {"every probe fails",
       {},
       {},
       "null,\"launcher_tty\":null,\"launcher_term_program\":null,\"launcher_bundle_id\":null,"
       "\"launcher_terminal_app\":null,\"launcher_terminal_pid\":null,\"launcher_pid_chain\":[{L}"
       "]"},
      {"parent is init, no tty",
       {{"ppid.default", "1"}, {"tty", "??"}},
       {{"TERM_PROGRAM", ""}},
       "1,\"launcher_tty\":null,\"launcher_term_program\":null,\"launcher_bundle_id\":null,"
       "\"launcher_terminal_app\":null,\"launcher_terminal_pid\":null,\"launcher_pid_chain\":[{L}"
       "]"},
      {"warp by TERM_PROGRAM",
       {{"tty", "?"}},
       {{"TERM_PROGRAM", "WarpTerminal"}},
       "null,\"launcher_tty\":null,\"launcher_term_program\":\"WarpTerminal\",\"launcher_bundle_"
       "id\":null,\"launcher_terminal_app\":\"Warp\",\"launcher_terminal_pid\":null,\"launcher_pid_"
       "chain\":[{L}]"},
      {"Terminal by bundle id",
       {},
       {{"__CFBundleIdentifier", "com.apple.Terminal"}},
       "null,\"launcher_tty\":null,\"launcher_term_program\":null,\"launcher_bundle_id\":\"com."
       "apple.Terminal\",\"launcher_terminal_app\":\"Terminal\",\"launcher_terminal_pid\":null,"
       "\"launcher_pid_chain\":[{L}]"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(log);
    std::filesystem::create_directories(log);
    for (const auto& [file, text] : c.answers) answer(file, text);
    for (const auto& [name, value] : c.vars) env.set(name, value);
    auto r = launch({"run", "codex"});
    for (const auto& [name, value] : c.vars) env.unset(name);
    ASSERT_EQ(r.exit_code, 0) << c.name;
    std::string body;
    for (const auto& request : server.requests()) {
      if (request.path == "/tmux/register") body = request.body;
    }
    std::string tail = std::regex_replace(c.tail, std::regex("\\{L\\}"), std::to_string(pid));
    EXPECT_NE(body.find("\"launcher_parent_pid\":" + tail + ",\"launcher_terminal_hwnd\":null}"),
              std::string::npos)
        << c.name << "\n"
        << body;
    // Only a known parent starts the process search; init's chain is init alone.
    const bool searched = !c.answers.empty() && c.answers[0].first == "ppid.default";
    const std::string calls = logged("calls");
    EXPECT_EQ(calls.find("osascript"), searched ? calls.find("osascript 1\n") : std::string::npos);
    EXPECT_EQ(calls.find("osascript", calls.find("osascript") + 1), std::string::npos) << c.name;
  }
}

TEST_F(LauncherE2E, ExitStatusAndHintAfterTmuxReturns) {
  const std::string four_lines =
      "\n[ombrel] 会话 id：abc\n[ombrel] 恢复此会话：\n    claude --resume abc\n"
      "    ombrel run claude --resume abc   # 恢复并保留远程控制\n";
  struct Case {
    const char* name;
    std::string tool, tmux_exit, has_exit, lookup;  // tmux_exit "killed": ended by SIGKILL
    int status;
    std::string out;  // {name} is the session name
    std::size_t requests;
  } cases[] = {
      {"detached", "claude", "0", "0", "", 0,
       "\n[ombrel] 已分离，会话仍在后台运行（手机仍可远程控制）。\n    tmux attach -t {name}   # "
       "重新连接\n",
       1},
      {"claude-code ended", "claude-code", "3", "1", "{\"ai_session_id\": \"abc\"}", 3, four_lines,
       2},
      {"codex ended", "codex", "0", "1", "{\"ai_session_id\": \"abc\"}", 0,
       "\n[ombrel] 会话 id：abc\n", 2},
      {"no id yet", "claude", "0", "1", "{\"ai_session_id\": null}", 0, "", 2},
      {"lookup fails", "claude", "4", "1", "", 4, "", 2},
      {"tmux killed", "claude", "killed", "1", "{\"ai_session_id\":\"abc\"}", 0, four_lines, 2},
  };
  for (const auto& c : cases) {
    FakeServer desktop([&](const Request& r) {
      if (r.path != "/tmux/lookup") return Reply{json_ok("{}")};
      return Reply{c.lookup.empty() ? http_response(500, "Oops", "") : json_ok(c.lookup)};
    });
    env.set("OMBREL_SERVER", desktop.url());
    std::filesystem::remove_all(log);
    answer(c.tmux_exit == "killed" ? "tmux-killed" : "tmux-exit", c.tmux_exit);
    answer("has-exit", c.has_exit);
    auto r = launch({"run", c.tool});
    EXPECT_EQ(r.exit_code, c.status) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.out, std::regex_replace(c.out, std::regex("\\{name\\}"), session())) << c.name;
    EXPECT_EQ(desktop.requests().size(), c.requests) << c.name;
  }
}

TEST_F(LauncherE2E, ToolWordsAndArgumentsReachTmuxAsTyped) {
  executable("tool.sh", "");
  struct Case {
    std::vector<std::string> args, command;
  } cases[] = {{{"claude", "--resume", "abc"}, {"claude", "--resume", "abc"}},
               {{"run", "run"}, {"run"}},
               {{"run", "./tool.sh", "run"}, {"./tool.sh", "run"}},
               {{"run", dir.str() + "/tool.sh"}, {dir.str() + "/tool.sh"}}};
  for (const auto& c : cases) {
    ASSERT_EQ(launch(c.args).exit_code, 0);
    auto args = args_of("new-session");
    auto at = std::find(args.begin(), args.end(), "-c");
    ASSERT_NE(at, args.end());
    EXPECT_EQ(std::vector<std::string>(at + 2, args.end()), c.command) << c.args[0];
  }
}

TEST_F(LauncherE2E, RegistrationFailureOnlyWarns) {
  const std::string refused = std::strerror(ECONNREFUSED);
  const std::string dead = "http://127.0.0.1:" + std::to_string(unused_port());
  struct Case {
    std::string server, reply, error, path;  // error empty: no warning
  } cases[] = {{dead, "", refused, ""},
               {"https://127.0.0.1:7337", "", "only http:// URLs supported", ""},
               {server.url(), http_response(500, "Internal Server Error", ""),
                "HTTP/1.1 500 Internal Server Error", "/tmux/register"},
               {server.url() + "/", json_ok("{}"), "", "//tmux/register"}};
  for (const auto& c : cases) {
    register_reply = c.reply;
    env.set("OMBREL_SERVER", c.server);
    auto before = server.requests().size();
    auto r = launch({"run", "claude"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.error.empty() ? ""
                                     : "[ombrel] 提示: 未能注册到桌面端 (" + c.error +
                                           ")，会话仍会启动但暂不可远程控制。\n");
    EXPECT_FALSE(session().empty()) << "the launch goes on";
    EXPECT_EQ(logged("calls").find("curl.exe"), std::string::npos) << "no curl outside WSL";
    if (!c.path.empty()) {
      EXPECT_EQ(server.requests().at(before).path, c.path);
    }
  }
}

TEST_F(LauncherE2E, UnderWslTheSessionReachesWindowsAndRegistrationFallsBackToCurl) {
  const std::string refused = std::strerror(ECONNREFUSED);
  const std::string dead = "http://127.0.0.1:" + std::to_string(unused_port());
  env.set("OMBREL_SERVER", dead).set("HOME", "/home/u").set("WSLENV", "PATH/l:OM_TMUX_SESSION/u");
  env.set("CODEX_HOME", "D:/codex");
  answer("has-exit", "0");  // detached: no lookup, so curl sees only the registration
  struct Case {
    std::string wsl_var, version_exit, exit, err, warning;
  } cases[] = {
      {"WSL_DISTRO_NAME", "0", "0", "", ""},
      {"WSL_INTEROP", "0", "22", "curl: (22) The requested URL returned error: 500\n",
       "curl: (22) The requested URL returned error: 500"},
      {"WSL_DISTRO_NAME", "1", "0", "", "curl.exe not reachable from WSL"},
  };
  for (const auto& c : cases) {
    if (!c.warning.empty() && c.version_exit != "0" &&
        std::filesystem::exists("/mnt/c/Windows/System32/curl.exe")) {
      continue;  // a real Windows curl would answer here
    }
    env.unset("WSL_DISTRO_NAME").unset("WSL_INTEROP").set(c.wsl_var, "");
    answer("curl-version-exit", c.version_exit);
    answer("curl-exit", c.exit);
    answer("curl-err", c.err);
    auto r = launch({"run", "codex", "resume"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.warning.empty() ? ""
                                       : "[ombrel] 提示: 未能注册到桌面端 (" + refused +
                                             "; curl.exe fallback: " + c.warning +
                                             ")，会话仍会启动但暂不可远程控制。\n");
    auto args = args_of("new-session");
    const std::string name = session();
    auto has = [&](const std::string& entry) {
      return std::find(args.begin(), args.end(), entry) != args.end();
    };
    EXPECT_TRUE(has("WSLENV=PATH/l:OM_TMUX_SESSION/w")) << c.wsl_var;
    EXPECT_TRUE(has("CODEX_HOME=/home/u/.codex"));
    EXPECT_TRUE(has("OM_TMUX_SESSION=" + name));
    EXPECT_EQ(std::vector<std::string>(args.end() - 2, args.end()),
              (std::vector<std::string>{bin + "/codex", "resume"}));
    if (c.version_exit != "0") continue;
    EXPECT_EQ(args_of("curl"),
              (std::vector<std::string>{"-sS", "--fail-with-body", "--max-time", "2", "-X", "POST",
                                        "-H", "Content-Type: application/json", "--data-binary",
                                        "@-", dead + "/tmux/register"}));
    EXPECT_EQ(logged("curl-stdin").rfind("{\"tmux_name\":\"" + name + "\",\"tool\":\"codex\",", 0),
              0u);
  }
}

TEST_F(LauncherE2E, TmuxThatCannotStartFailsWithStatusOne) {
  bool fixed = false;
  for (const char* p :
       {"/opt/homebrew/bin/tmux", "/usr/local/bin/tmux", "/usr/bin/tmux", "/opt/local/bin/tmux"}) {
    fixed = fixed || std::filesystem::exists(p);
  }
  // Without tmux on PATH the outcome depends on the fixed paths: they pass the
  // availability check, so starting "tmux" by name fails; without them tmux is missing.
  env.set("PATH", dir.str() + "/empty");
  auto r = launch({"run", executable("tool", "")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, fixed ? "[ombrel] 启动 tmux 失败: " + std::string(std::strerror(ENOENT)) + "\n"
                         : "[ombrel] 未找到 tmux。请先安装：\n    brew install tmux\n");
  EXPECT_EQ(server.requests().size(), fixed ? 1u : 0u);
}

}  // namespace
}  // namespace ombrel::test
