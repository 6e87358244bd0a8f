// The launcher run as users type it, with fake tmux, ps, osascript and curl.exe first on
// PATH. All fakes are one script: it logs "<name> <key>" to the file "calls", keeps its
// arguments (NUL-separated) in "<name>.<key>.args" and answers from "<name>.<key>.out",
// ".err", ".exit" and ".kill". The key is the first argument; for ps the field and the pid
// ("self" for the launcher, the fake's parent); for osascript the pid in the script; for
// "tmux display-message -p -c" the key "display-message-c". Like tmux, the fake new-session
// runs the pane command after "-c DIR" (one word through sh -c), in the environment of a
// server started earlier by someone else. Each tool records its "$0 $@" and environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>

#include "common/version.hpp"
#include "fake_server.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

using Strings = std::vector<std::string>;

const char* kFake = R"sh(n=${0##*/}; k=$1
case $n in
  ps) p=$4; [ "$p" = "$PPID" ] && p=self; k="$2$p" ;;
  osascript) k=$(printf '%s\n' "$2" | sed -n 's/.*unix id is \([0-9]*\)$/\1/p') ;;
  tmux) [ "$1 $3" = "display-message -c" ] && k=display-message-c ;;
esac
echo "$n $k" >> "$L/calls"
printf '%s\0' "$@" > "$L/$n.$k.args"
if [ "$n $k" = "tmux new-session" ]; then
  while [ "$1" != -c ]; do shift; done
  cd "$2" && shift 2
  [ $# -eq 1 ] && set -- /bin/sh -c "$1"
  env -i PATH=/usr/bin:/bin TERM=tmux-fake OMBREL_GLOBAL=old TMUX=/fake/pane,1,0 TMUX_PANE=%9 \
    "$@" 2>> "$L/pane.err"
fi
[ "$n $k" = "curl.exe -sS" ] && cat > "$L/curl.stdin"
[ -f "$L/$n.$k.kill" ] && kill -KILL $$
[ -f "$L/$n.$k.out" ] && cat "$L/$n.$k.out"
[ -f "$L/$n.$k.err" ] && cat "$L/$n.$k.err" >&2
case "$n $k" in "tmux -V"|"tmux new-session"|curl.exe*) d=0 ;; *) d=1 ;; esac
[ -f "$L/$n.$k.out" ] && d=0
exit "$(cat "$L/$n.$k.exit" 2>/dev/null || echo $d)")sh";

Strings split_nul(const std::string& text) {
  Strings parts;
  for (std::size_t at = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) {
    parts.push_back(text.substr(at, end - at));
  }
  return parts;
}

std::string warning(const std::string& error) {
  return "[ombrel] 提示: 未能注册到桌面端 (" + error + ")，会话仍会启动但暂不可远程控制。\n";
}

std::string fill(const std::string& text, const std::string& value) {
  return std::regex_replace(text, std::regex("\\{\\}"), value);
}

class LauncherE2E : public ::testing::Test {
 protected:
  LauncherE2E() {
    for (const char* tool : {"claude", "claude-code", "codex", "run", "setup"}) {
      executable("bin/" + std::string(tool), recorder);
    }
    const std::string fake = executable("fake", "L='" + log + "'\n" + kFake + "\n");
    std::filesystem::create_directories(tmp);
    for (const char* name : {"tmux", "ps", "osascript", "curl.exe"}) {
      std::filesystem::create_symlink(fake, bin + "/" + name);
    }
    for (const char* name : {"TMUX", "TMUX_PANE", "TERM_PROGRAM", "__CFBundleIdentifier", "WSLENV",
                             "WSL_DISTRO_NAME", "WSL_INTEROP", "CODEX_HOME"}) {
      env.unset(name);
    }
    env.set("PATH", bin + ":/usr/bin:/bin").set("OMBREL_SERVER", server.url()).set("TMPDIR", tmp);
  }
  std::string executable(const std::string& relative, const std::string& body = "") {
    auto path = dir.write(relative, "#!/bin/sh\n" + body).string();
    chmod(path.c_str(), 0755);
    return path;
  }
  void answer(const std::string& file, const std::string& text) { dir.write("log/" + file, text); }
  std::string logged(const std::string& file) {
    return std::filesystem::exists(log + "/" + file) ? read_file(log + "/" + file) : "";
  }
  ProcessResult launch(Strings args, const std::string& program = "ombrel") {
    std::filesystem::create_directories(log);
    std::filesystem::remove(log + "/calls");
    args.insert(args.begin(), std::string(OMBREL_LAUNCHER_DIR) + "/" + program);
    std::filesystem::remove(log + "/tool.args");
    ChildProcess child({args, env, "", false, cwd, std::chrono::milliseconds(20000)});
    pid = std::to_string(child.pid());
    ProcessResult result = child.wait();
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "the private handoff directory is left";
    return result;
  }
  Strings tmux_args() { return split_nul(logged("tmux.new-session.args")); }
  std::string session() { return tmux_args().size() > 3 ? tmux_args()[3] : ""; }
  Strings tool_command() { return split_nul(logged("tool.args")); }  // "$0" "$@" as it ran
  bool tool_env_has(const std::string& entry) {
    return ("\n" + logged("tool.env")).find("\n" + entry + "\n") != std::string::npos;
  }

  TempDir dir;
  const std::string bin = dir.str() + "/bin", log = dir.str() + "/log", tmp = dir.str() + "/tmp";
  const std::string recorder =
      "printf '%s\\0' \"$0\" \"$@\" > '" + log + "/tool.args'; env > '" + log + "/tool.env'\n";
  std::string register_reply = json_ok("{}"), lookup_reply = json_ok("{}");
  FakeServer server{[this](const Request& r) {
    return Reply{r.path.ends_with("/tmux/lookup") ? lookup_reply : register_reply};
  }};
  Environment env = Environment::current();
  std::string cwd = dir.str(), pid;
};

TEST_F(LauncherE2E, RefusalsComeBeforeAnythingStarts) {
  dir.write("notexec", "#!/bin/sh\n");
  std::filesystem::create_directories(dir.path() / "adir");
  const std::string usage = "用法: ombrel run <tool> [args...]\n示例: ombrel run claude\n";
  const std::string missing =
      "[ombrel] 无法运行 “{}”：未在 PATH 中找到该命令。\n"
      "    请确认工具名拼写正确且已安装（可用 `which {}` 检查）。\n";
  const std::string nested =
      "[ombrel] 当前在 tmux 中，但无法切换到新会话: no tmux client shows this pane\n"
      "    请在 tmux 之外运行 ombrel run。\n";
  answer("tmux.display-message.out", "\n");  // the pane is in a session no client shows
  // clang-format off
  struct { std::string program; Strings args; int status; std::string err; Strings vars = {}; }
  cases[] = {
      {"ombrel", {}, 2, usage}, {"ombrel", {"run"}, 2, usage}, {"ombrel-run", {}, 2, usage},
      {"ombrel-run", {"run"}, 2, usage},
      {"ombrel", {"run", "no-such-tool", "x"}, 127, fill(missing, "no-such-tool")},
      {"ombrel", {"run", "./notexec"}, 127, fill(missing, "./notexec")},
      {"ombrel", {"run", "./adir"}, 127, fill(missing, "./adir")},
      {"ombrel", {"run", "/nonexistent/codex"}, 127, fill(missing, "/nonexistent/codex")},
      {"ombrel", {"run", ""}, 127, fill(missing, "")},
      {"ombrel", {"run", "claude"}, 1, nested, {"TMUX", "/tmp/tmux-1/default,1,0"}},
      {"ombrel", {"run", "claude"}, 1, "[ombrel] 准备会话环境失败: /nonexistent/ombrel-XXXXXX: " +
       std::string(std::strerror(ENOENT)) + "\n", {"TMPDIR", "/nonexistent"}}};
  // clang-format on
  const Environment plain = env;
  for (const auto& c : cases) {
    env = plain;
    for (std::size_t i = 0; i < c.vars.size(); i += 2) env.set(c.vars[i], c.vars[i + 1]);
    auto r = launch(c.args, c.program);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(logged("calls").find("ps "), std::string::npos);  // at most a tmux -V probe
    EXPECT_EQ(logged("calls").find("new-session"), std::string::npos);
  }
  EXPECT_TRUE(server.requests().empty());
}

// setup, doctor and help belong to ombrel-setup only as the first word after `ombrel`; the
// tool is started as before everywhere else, and --help and --version answer alone.
TEST_F(LauncherE2E, FrontWordsGoToSetupOnlyRightAfterOmbrel) {
  const std::string version(kVersion);
  // clang-format off
  struct { std::string program; Strings args; int status; std::string out_has; bool tool_ran; }
  cases[] = {
      {"ombrel", {"--help"}, 0, "Usage: ombrel run TOOL", false},
      {"ombrel-run", {"--help"}, 0, "Usage: ombrel run TOOL", false},
      {"ombrel", {"--version"}, 0, "ombrel " + version + "\n", false},
      {"ombrel-run", {"--version"}, 0, "ombrel-run " + version + "\n", false},
      {"ombrel", {"help"}, 0, "ombrel setup --remove", false},
      {"ombrel", {"setup", "--print", "codex"}, 0, "/ombrel-hook --source codex", false},
      {"ombrel", {"run", "setup"}, 0, "", true},
      {"ombrel-run", {"setup"}, 0, "", true},
      {"ombrel", {"run", "--help"}, 127, "", false},  // a tool of that name, as before
      {"ombrel-run", {"help"}, 127, "", false}};
  // clang-format on
  for (const auto& c : cases) {
    auto r = launch(c.args, c.program);
    EXPECT_EQ(r.exit_code, c.status) << c.program << " " << c.args[0] << ": " << r.err;
    EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
    EXPECT_EQ(!tool_command().empty(), c.tool_ran) << c.program << " " << c.args.back();
    if (c.tool_ran) {
      EXPECT_EQ(tool_command()[0], bin + "/setup");
    }
  }
}

TEST_F(LauncherE2E, RegistersThenStartsTheToolWithTheWholeEnvironmentOffTheCommandLine) {
  cwd = dir.str() + "/w\"q\\b\tt\x01";  // a directory that needs every kind of JSON escape
  std::filesystem::create_directories(cwd);
  env.set("OM_TMUX_SESSION", "stale").set("OMBREL_SECRET", "s3cr3t-value").set("TERM", "xterm");
  env.set("TMUX_PANE", "%3").set("TERM_PROGRAM", "iTerm.app");
  answer("ps.ppid=self.out", "500\n");
  answer("ps.ppid=500.out", "400");
  answer("ps.ppid=400.out", "1");
  answer("ps.tty=self.out", "ttys003\n");
  answer("osascript.500.out", "iTerm2 Nightly\n");
  answer("osascript.400.out", "ITERM2\n");
  auto r = launch({"run", "claude", "--model", "x y"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string name = session();
  ASSERT_TRUE(std::regex_match(name, std::regex("om-[0-9a-f]{8}"))) << name;

  const Strings args = tmux_args();
  ASSERT_EQ(args.size(), 9u);
  EXPECT_EQ(Strings(args.begin(), args.begin() + 6),
            (Strings{"new-session", "-A", "-s", name, "-c", cwd}));
  EXPECT_EQ(args[7], "--exec-step");
  for (const std::string& arg : args) EXPECT_EQ(arg.find("s3cr3t"), std::string::npos) << arg;
  EXPECT_EQ(tool_command(), (Strings{bin + "/claude", "--model", "x y"}));
  // The launcher's variables over the pane's, except what tmux sets for every pane.
  for (std::string entry : env.entries()) {
    if (entry.find('\n') != std::string::npos) continue;  // one line per variable below
    const std::string name_part = entry.substr(0, entry.find('='));
    if (name_part == "TMUX_PANE" || name_part == "TERM") continue;                 // the pane's win
    if (name_part == "PWD" || name_part == "SHLVL" || name_part == "_") continue;  // sh's own
    if (name_part == "OM_TMUX_SESSION") entry = "OM_TMUX_SESSION=" + name;
    EXPECT_TRUE(tool_env_has(entry)) << entry;
  }
  for (const char* entry :
       {"TMUX=/fake/pane,1,0", "TMUX_PANE=%9", "TERM=tmux-fake", "OMBREL_GLOBAL=old"}) {
    EXPECT_TRUE(tool_env_has(entry)) << entry;
  }

  const std::string body =
      "{\"tmux_name\":\"" + name + "\",\"tool\":\"claude\",\"cwd\":\"" + dir.str() +
      "/w\\\"q\\\\b\\tt\\u0001\",\"launcher_pid\":" + pid +
      ",\"launcher_parent_pid\":500,\"launcher_tty\":\"ttys003\",\"launcher_term_program\":"
      "\"iTerm.app\",\"launcher_bundle_id\":null,\"launcher_terminal_app\":\"ITERM2\","
      "\"launcher_terminal_pid\":400,\"launcher_pid_chain\":[" +
      pid + ",500,400],\"launcher_terminal_hwnd\":null}";
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw,
            "POST /tmux/register HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  EXPECT_EQ(requests[1].path + " " + requests[1].body,
            "/tmux/lookup {\"tmux_name\":\"" + name + "\"}");
  EXPECT_EQ(split_nul(logged("tmux.has-session.args")), (Strings{"has-session", "-t", "=" + name}));
  std::string calls = logged("calls");
  if (calls.starts_with("tmux -V\n")) calls.erase(0, 8);  // only without a fixed tmux path
  // parent_pid and pid_chain each ask for the launcher's parent; the search runs over the
  // parent's own chain and stops at the first known terminal.
  EXPECT_EQ(calls,
            "ps ppid=self\nps ppid=self\nps ppid=500\nps ppid=400\nps tty=self\nps ppid=500\n"
            "ps ppid=400\nosascript 500\nosascript 400\ntmux new-session\ntmux has-session\n");
  EXPECT_EQ(split_nul(logged("osascript.400.args")),
            (Strings{"-e",
                     "tell application \"System Events\"\n"
                     "    set pList to every process whose unix id is 400\n"
                     "    if (count of pList) > 0 then return name of item 1 of pList\n"
                     "    return \"\"\nend tell"}));
}

TEST_F(LauncherE2E, TerminalFactsFallBackWhenProbesFail) {
  const std::string none = "\"launcher_tty\":null,\"launcher_term_program\":";
  const std::string end = ",\"launcher_terminal_pid\":null,\"launcher_pid_chain\":[{}]";
  // clang-format off
  struct { Strings answers; std::string var, value, tail, searched; } cases[] = {
      {{}, "TERM_PROGRAM", "",
       "null," + none + "null,\"launcher_bundle_id\":null,\"launcher_terminal_app\":null", ""},
      {{"ps.ppid=self.out", "1", "ps.tty=self.out", "??"}, "TERM_PROGRAM", "WarpTerminal",
       "1," + none + "\"WarpTerminal\",\"launcher_bundle_id\":null,\"launcher_terminal_app\":"
       "\"Warp\"", "osascript 1\n"},  // a parent of 1: the search looks at init alone
      {{"ps.tty=self.out", "?"}, "__CFBundleIdentifier", "com.apple.Terminal",
       "null," + none + "null,\"launcher_bundle_id\":\"com.apple.Terminal\","
       "\"launcher_terminal_app\":\"Terminal\"", ""}};
  // clang-format on
  for (const auto& c : cases) {
    std::filesystem::remove_all(log);
    for (std::size_t i = 0; i < c.answers.size(); i += 2) answer(c.answers[i], c.answers[i + 1]);
    env.set(c.var, c.value);
    ASSERT_EQ(launch({"run", "codex"}).exit_code, 0);
    env.unset(c.var);
    const std::string body = server.requests().at(server.requests().size() - 2).body;
    EXPECT_TRUE(body.ends_with("\"launcher_parent_pid\":" + c.tail + fill(end, pid) +
                               ",\"launcher_terminal_hwnd\":null}"))
        << body;
    std::string calls = logged("calls"), searched;
    for (auto at = calls.find("osascript"); at != std::string::npos;
         at = calls.find("osascript", at + 1)) {
      searched += calls.substr(at, calls.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(searched, c.searched);
  }
}

TEST_F(LauncherE2E, ExitStatusAndHintAfterTmuxReturns) {
  const std::string claude =
      "\n[ombrel] 会话 id：abc\n[ombrel] 恢复此会话：\n    claude --resume abc\n"
      "    ombrel run claude --resume abc   # 恢复并保留远程控制\n";
  const std::string detached =
      "\n[ombrel] 已分离，会话仍在后台运行（手机仍可远程控制）。\n"
      "    tmux attach -t {}   # 重新连接\n";
  const std::string found = json_ok("{\"ai_session_id\": \"abc\"}");
  const std::string failed = http_response(500, "Oops", "{\"ai_session_id\": \"abc\"}");
  const std::string unsafe = json_ok("{\"ai_session_id\": \"a\x1b]2;b\x07$(id)\"}");
  // Found and executable, but exec cannot start it.
  chmod(dir.write("broken", "#!/nonexistent/interpreter\n").c_str(), 0755);
  const std::string cannot =
      "[ombrel] 启动 ./broken 失败: " + std::string(std::strerror(ENOENT)) + "\n";
  // clang-format off
  struct { std::string tool, tmux, has, lookup; int status; std::string out; std::size_t asked;
           std::string err = ""; }
  cases[] = {
      {"claude", "0", "0", found, 0, detached, 0},  // detached: no lookup
      {"claude-code", "3", "1", found, 3, claude, 1},
      {"codex", "0", "1", found, 0, "\n[ombrel] 会话 id：abc\n", 1},
      {"claude", "0", "1", json_ok("{\"ai_session_id\": null}"), 0, "", 1},
      {"claude", "4", "1", failed, 4, "", 1},
      {"claude", "kill", "1", found, 0, claude, 1},  // tmux ended by a signal
      {"claude", "0", "1", unsafe, 0, "", 1},  // an id that is not safe to paste
      {"./broken", "0", "1", found, 127, "", 0, cannot}};
  // clang-format on
  for (const auto& c : cases) {
    std::filesystem::remove_all(log);
    answer(c.tmux == "kill" ? "tmux.new-session.kill" : "tmux.new-session.exit", c.tmux);
    answer("tmux.has-session.exit", c.has);
    lookup_reply = c.lookup;
    const std::size_t before = server.requests().size();
    auto r = launch({"run", c.tool});
    EXPECT_EQ(r.exit_code, c.status) << c.tool;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, fill(c.out, session()));
    EXPECT_EQ(server.requests().size() - before, 1 + c.asked);
  }
}

TEST_F(LauncherE2E, InsideTmuxTheUsersClientIsSwitchedToTheSession) {
  env.set("TMUX", "/tmp/tmux-1/default,1,0").set("TMUX_PANE", "%3");
  answer("tmux.display-message.out", "$4 /dev/pts/7\n");  // the client showing our pane
  answer("tmux.switch-client.exit", "0");
  lookup_reply = json_ok("{\"ai_session_id\": \"abc\"}");
  const std::string left =
      "\n[ombrel] 已离开，会话仍在后台运行（手机仍可远程控制）。\n"
      "    tmux switch-client -t {}   # 切换回去\n";
  const std::string asked =
      "display-message new-session set-option switch-client "
      "display-message-c has-session ";
  // clang-format off
  struct { std::string has, out, tmux; } cases[] = {
      {"0", left, asked},  // the user switched away: the session runs on
      {"1", "\n[ombrel] 会话 id：abc\n", asked + "switch-client "}};  // ended: back to $4
  // clang-format on
  for (const auto& c : cases) {
    answer("tmux.has-session.exit", c.has);
    auto r = launch({"run", "codex"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, fill(c.out, session()));
    std::string tmux;
    std::istringstream calls(logged("calls"));
    for (std::string line; std::getline(calls, line);) {
      if (line.starts_with("tmux ") && line != "tmux -V") tmux += line.substr(5) + " ";
    }
    EXPECT_EQ(tmux, c.tmux);
    EXPECT_EQ(tmux_args()[1], "-d");
    EXPECT_EQ(split_nul(logged("tmux.set-option.args")),
              (Strings{"set-option", "-t", "=" + session() + ":", "detach-on-destroy", "off"}));
    EXPECT_EQ(split_nul(logged("tmux.switch-client.args")),
              (Strings{"switch-client", "-c", "/dev/pts/7", "-t",
                       c.has == "0" ? "=" + session() : "$4"}));
    EXPECT_TRUE(tool_env_has("TMUX=/fake/pane,1,0") && tool_env_has("TMUX_PANE=%9"));
  }
}

TEST_F(LauncherE2E, ToolWordsAndArgumentsReachTheToolAsTypedWithoutAShell) {
  for (const char* name : {"tool.sh", "my agent", "agent;touch X"}) executable(name, recorder);
  // clang-format off
  struct { Strings args, command; } cases[] = {
      {{"claude", "--resume", "abc"}, {bin + "/claude", "--resume", "abc"}},
      {{"run", "run"}, {bin + "/run"}}, {{"run", "./tool.sh", "run"}, {"./tool.sh", "run"}},
      {{"run", cwd + "/tool.sh"}, {cwd + "/tool.sh"}}, {{"run", "./my agent"}, {"./my agent"}},
      {{"run", "./agent;touch X"}, {"./agent;touch X"}}};
  // clang-format on
  for (const auto& c : cases) {
    ASSERT_EQ(launch(c.args, "ombrel-run").exit_code, 0);
    EXPECT_EQ(tool_command(), c.command);
  }
  EXPECT_FALSE(std::filesystem::exists(cwd + "/X"));
}

TEST_F(LauncherE2E, RegistrationFailureOnlyWarns) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(unused_port());
  // clang-format off
  struct { std::string server, reply, warning, path; } cases[] = {
      {dead, "", warning(std::strerror(ECONNREFUSED)), ""},
      {"https://127.0.0.1:7337", "", warning("only http:// URLs supported"), ""},
      {server.url(), http_response(500, "Internal Server Error", ""),
       warning("HTTP/1.1 500 Internal Server Error"), "/tmux/register"},
      {server.url() + "/", json_ok("{}"), "", "//tmux/register"}};
  // clang-format on
  for (const auto& c : cases) {
    register_reply = c.reply;
    env.set("OMBREL_SERVER", c.server);
    const std::size_t before = server.requests().size();
    auto r = launch({"run", "claude"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.warning);
    EXPECT_EQ(tool_command(), Strings{bin + "/claude"}) << "the launch goes on";
    EXPECT_EQ(logged("calls").find("curl.exe"), std::string::npos) << "curl is for WSL only";
    EXPECT_EQ(c.path.empty() ? "" : server.requests().at(before).path, c.path);
  }
}

TEST_F(LauncherE2E, UnderWslTheSessionReachesWindowsAndRequestsFallBackToCurl) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(unused_port()) + "/";
  const std::string refused = std::string(std::strerror(ECONNREFUSED)) + "; curl.exe fallback: ";
  const std::string http500 = "curl: (22) The requested URL returned error: 500";
  env.set("OMBREL_SERVER", dead).set("HOME", "/home/u").set("CODEX_HOME", "D:/codex");
  env.set("WSLENV", "PATH/l:OM_TMUX_SESSION/u");
  answer("tmux.has-session.exit", "0");  // detached: curl sees only the registration
  // clang-format off
  struct { std::string variable, version_exit, exit, err, warning; } cases[] = {
      {"WSL_DISTRO_NAME", "0", "0", "", ""},
      {"WSL_INTEROP", "0", "22", http500 + "\n", warning(refused + http500)},
      {"WSL_DISTRO_NAME", "1", "0", "", warning(refused + "curl.exe not reachable from WSL")}};
  // clang-format on
  for (const auto& c : cases) {
    if (c.version_exit != "0" && std::filesystem::exists("/mnt/c/Windows/System32/curl.exe")) {
      continue;  // a real Windows curl would answer
    }
    env.unset("WSL_DISTRO_NAME").unset("WSL_INTEROP").set(c.variable, "");  // presence is enough
    answer("curl.exe.--version.exit", c.version_exit);
    answer("curl.exe.-sS.exit", c.exit);
    answer("curl.exe.-sS.err", c.err);
    auto r = launch({"run", "codex", "resume"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.warning);
    for (const std::string& entry :
         Strings{"WSLENV=PATH/l:OM_TMUX_SESSION/w", "CODEX_HOME=/home/u/.codex",
                 "OM_TMUX_SESSION=" + session()}) {
      EXPECT_TRUE(tool_env_has(entry)) << entry;
    }
    EXPECT_EQ(tool_command(), (Strings{bin + "/codex", "resume"}));  // the Linux codex by path
    if (c.version_exit != "0") continue;
    EXPECT_EQ(split_nul(logged("curl.exe.-sS.args")),
              (Strings{"-sS", "--fail-with-body", "--max-time", "2", "-X", "POST", "-H",
                       "Content-Type: application/json", "--data-binary", "@-",
                       dead + "/tmux/register"}));
    EXPECT_TRUE(logged("curl.stdin").starts_with("{\"tmux_name\":\"" + session() + "\","));
  }
}

TEST_F(LauncherE2E, TmuxThatCannotStartFailsWithStatusOne) {
  bool fixed = false;  // with a fixed tmux path the check passes and starting "tmux" fails
  for (const char* p :
       {"/opt/homebrew/bin/tmux", "/usr/local/bin/tmux", "/usr/bin/tmux", "/opt/local/bin/tmux"}) {
    fixed = fixed || std::filesystem::exists(p);
  }
  env.set("PATH", dir.str() + "/empty");
  auto r = launch({"run", executable("tool")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, fixed ? "[ombrel] 启动 tmux 失败: " + std::string(std::strerror(ENOENT)) + "\n"
                         : "[ombrel] 未找到 tmux。请先安装：\n    brew install tmux\n");
  EXPECT_EQ(server.requests().size(), fixed ? 1u : 0u);
}

}  // namespace
}  // namespace ombrel::test
