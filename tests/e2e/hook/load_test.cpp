// Many hooks at the same moment against the stand-in desktop server: every report arrives
// once and whole, the debug log they share keeps each entry whole, and approvals that wait
// side by side each get their own answer in their agent's dialect.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <regex>

#include "devserver_harness.hpp"
#include "hook_runner.hpp"

namespace ombrel::test {
namespace {

#ifdef OMBREL_DEVSERVER_PATH

constexpr auto kPatience = std::chrono::seconds(60);

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::string numbered(const std::string& prefix, int i) {
  std::string digits = std::to_string(i);
  return prefix + std::string(3 - std::min<std::size_t>(digits.size(), 3), '0') + digits;
}

// The difference between two multisets of lines, a few items of it, for a readable failure.
std::string differences(const std::map<std::string, int>& want,
                        const std::map<std::string, int>& got) {
  std::string text;
  int shown = 0;
  auto note = [&](const std::string& line, int w, int g) {
    if (w == g || ++shown > 5) return;
    text += "\n  wanted " + std::to_string(w) + ", got " + std::to_string(g) + ": " +
            line.substr(0, 300);
  };
  for (const auto& [line, n] : want) note(line, n, got.count(line) ? got.at(line) : 0);
  for (const auto& [line, n] : got) {
    if (!want.count(line)) note(line, 0, n);
  }
  return text;
}

// Two hundred starts of the sanitizer build on two cores take many seconds, and each
// leak scan at exit adds half as much again: leaks on this road are the business of the
// other end-to-end tests, so the crowd goes without the scan.
void relax_for_a_crowd(HookRun& run) {
  auto current = run.options().env.get("ASAN_OPTIONS");
  run.env("ASAN_OPTIONS",
          current && !current->empty() ? *current + ":detect_leaks=0" : "detect_leaks=0");
}

// The last of a crowd may wait long for its turn on the processor.
ProcessOptions crowd_options(const HookRun& run) {
  ProcessOptions options = run.options();
  options.timeout = std::chrono::seconds(100);
  return options;
}

TEST(HookLoad, TwoHundredReportsAtOnce) {
  constexpr int kHooks = 200;
  TempDir dir;
  const auto events = dir.path() / "events.jsonl";
  auto desktop = DevServer::start(OMBREL_DEVSERVER_PATH, {"--events", events.string()}, kPatience);
  ASSERT_NE(desktop, nullptr);

  // One home and one debug log for all of them, as on a real machine.
  HookRun run;
  run.server(desktop->url()).args({"--source", "claude"});
  relax_for_a_crowd(run);
  const std::string ppid = std::to_string(getpid());
  const std::string keys =
      "cwd, hook_event_name, session_id, tool_input, tool_name, tool_use_id, transcript_path";
  std::map<std::string, int> want_events, want_log;
  std::vector<std::unique_ptr<ChildProcess>> hooks;
  for (int i = 0; i < kHooks; ++i) {
    // Entries of a couple of kilobytes, each hook's its own, so that any two interleaved
    // writes would show.
    const std::string session = numbered("load-", i);
    const std::string command =
        "echo " + session + " " + std::string(1500, static_cast<char>('a' + i % 26));
    const std::string common_tail = R"(,"tool_input":{"command":")" + command +
                                    R"("},"tool_name":"Bash","tool_use_id":"toolu_)" + session +
                                    R"(","transcript_path":"/t/)" + session + R"(.jsonl")";
    const std::string payload = R"({"cwd":"/proj/)" + session +
                                R"(","hook_event_name":"PostToolUse","session_id":")" + session +
                                "\"" + common_tail + "}";
    ++want_events[R"({"cwd":"/proj/)" + session +
                  R"(","event":"PostToolUse","hook_version":"0.4.2","last_assistant_message":null,)"
                  R"("last_user_message":null,"om_tmux_session":null,"pid":)" +
                  ppid + R"(,"session_id":")" + session + R"(","source":"claude")" + common_tail +
                  R"(,"turn_id":null})"];
    ++want_log["[claude] hook v0.4.2 RAW STDIN (" + std::to_string(payload.size()) +
               " bytes): " + payload];
    ++want_log["[claude] last_user_message source=missing event=PostToolUse keys=" + keys];
    ++want_log["[claude] STATE stdin keys: " + keys];
    ++want_log["[claude] STATE session_id=" + session];
    ++want_log["[claude] STATE transcript_path=/t/" + session + ".jsonl"];
    run.input(payload);
    hooks.push_back(std::make_unique<ChildProcess>(crowd_options(run)));
  }
  for (int i = 0; i < kHooks; ++i) {
    ProcessResult result = hooks[i]->wait();
    EXPECT_FALSE(result.timed_out) << i;
    EXPECT_EQ(result.term_signal, 0) << i;
    EXPECT_EQ(result.exit_code, 0) << i;
    EXPECT_EQ(result.out, "") << i;
    EXPECT_EQ(result.err, "") << i;
    ++want_log["[claude] event=PostToolUse tool=Bash pid=" + std::to_string(hooks[i]->pid()) +
               " ppid=" + ppid];
  }

  // A hook ends only after its report was answered, and the server writes the event
  // before answering: the file is complete now.
  std::map<std::string, int> got_events;
  for (const auto& line : lines_of(read_file(events))) ++got_events[line];
  EXPECT_TRUE(got_events == want_events) << differences(want_events, got_events);

  const std::string log = run.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  const std::regex stamp(R"(^\d+\.\d{3}Z \[)");
  std::map<std::string, int> got_log;
  int unstamped = 0;
  for (const auto& line : lines_of(log)) {
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) {
      if (++unstamped <= 3) ADD_FAILURE() << "entry without its timestamp: " << line;
      continue;
    }
    ++got_log[line.substr(m.length() - 1)];
  }
  EXPECT_TRUE(got_log == want_log) << differences(want_log, got_log);
  EXPECT_EQ(desktop->stop(SIGTERM).exit_code, 0);
}

// Every dialect, allowed and denied, while fifty approvals wait on the desktop at once.
TEST(HookLoad, FiftyApprovalsWaitingTogether) {
  constexpr int kHooks = 50;
  struct Dialect {
    std::vector<std::string> args;
    std::string before_session, after_session;  // the payload around its session id
    std::string allow_out;
    std::string deny_out, deny_err;
    int deny_status;
  };
  const Dialect dialects[] = {
      {{"--source", "gemini"},
       R"({"hook_event_name":"BeforeTool","session_id":")",
       R"(","tool_name":"run_shell_command","tool_input":{"command":"make"}})",
       R"({"decision":"allow"})",
       R"({"decision":"deny","reason":"Denied by Ombrel"})",
       "",
       0},
      {{"--source", "cursor"},
       R"({"hook_event_name":"preToolUse","conversation_id":")",
       R"(","tool_name":"Shell","tool_input":{"command":"make"}})",
       R"({"permission":"allow"})",
       R"({"agent_message":"Denied by Ombrel","permission":"deny","user_message":"Ombrel denied this action"})",
       "",
       0},
      {{"--source", "copilot", "--event", "permissionRequest"},
       R"({"sessionId":")",
       R"(","toolName":"bash","toolArgs":"{\"command\":\"make\"}"})",
       R"({"behavior":"allow"})",
       R"({"behavior":"deny","message":"Denied by Ombrel"})",
       "",
       0},
      {{"--source", "cline"},
       R"({"hookName":"PreToolUse","taskId":")",
       R"(","preToolUse":{"tool":"execute_command","parameters":{"command":"make"}}})",
       R"({"cancel":false})",
       R"({"cancel":true,"errorMessage":"Denied by Ombrel"})",
       "",
       0},
      {{"--source", "kiro"},
       R"({"hook_event_name":"preToolUse","session_id":")",
       R"(","tool_name":"execute_bash","tool_input":{"command":"make"}})",
       "",
       "",
       "Denied by Ombrel\n",
       2},
      // Claude gets the desktop's own answer, message included: proof that each answer
      // went to the hook it was meant for.
      {{"--source", "claude"},
       R"({"hook_event_name":"PermissionRequest","session_id":")",
       R"(","tool_name":"Bash","tool_input":{"command":"make"}})",
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},"hookEventName":"PermissionRequest"}})",
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"no for SESSION"},"hookEventName":"PermissionRequest"}})",
       "",
       0},
  };
  constexpr int kDialects = sizeof dialects / sizeof dialects[0];
  auto denied = [](int i) { return (i / kDialects) % 2 == 1; };  // each dialect both ways

  auto desktop = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"}, kPatience);
  ASSERT_NE(desktop, nullptr);
  HookRun run;
  run.server(desktop->url());
  relax_for_a_crowd(run);
  std::vector<std::unique_ptr<ChildProcess>> hooks;
  for (int i = 0; i < kHooks; ++i) {
    const Dialect& d = dialects[i % kDialects];
    run.args(d.args).input(d.before_session + numbered("perm-", i) + d.after_session);
    hooks.push_back(std::make_unique<ChildProcess>(crowd_options(run)));
  }
  // All of them wait at once: nobody has answered yet.
  ASSERT_TRUE(desktop->wait_for("] permission #", kHooks)) << desktop->output();

  // The terminal is asked about one approval at a time, oldest first; each is answered by
  // the session it names.
  const std::string asked = "wants permission (session ";
  for (int k = 1; k <= kHooks; ++k) {
    ASSERT_TRUE(desktop->wait_for(asked, k)) << desktop->output();
    const std::string out = desktop->output();
    std::size_t at = 0;
    for (int n = 0; n < k; ++n) at = out.find(asked, at) + asked.size();
    const std::string session = out.substr(at, out.find(')', at) - at);
    ASSERT_EQ(session.rfind("perm-", 0), 0u) << session;
    desktop->type(denied(std::stoi(session.substr(5))) ? "n no for " + session + "\n" : "y\n");
  }

  for (int i = 0; i < kHooks; ++i) {
    const Dialect& d = dialects[i % kDialects];
    const std::string session = numbered("perm-", i);
    SCOPED_TRACE(session + " " + d.args[1]);
    ProcessResult result = hooks[i]->wait();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.term_signal, 0);
    if (denied(i)) {
      std::string want = d.deny_out;
      if (auto at = want.find("SESSION"); at != std::string::npos) want.replace(at, 7, session);
      EXPECT_EQ(result.exit_code, d.deny_status);
      EXPECT_EQ(result.out, want);
      EXPECT_EQ(result.err, d.deny_err);
    } else {
      EXPECT_EQ(result.exit_code, 0);
      EXPECT_EQ(result.out, d.allow_out);
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_EQ(desktop->stop(SIGTERM).exit_code, 0);
}

#else

TEST(HookLoad, NeedsTheStandInServer) {
  GTEST_SKIP() << "ombrel-devserver is not built (OMBREL_BUILD_DEVSERVER=OFF)";
}

#endif

}  // namespace
}  // namespace ombrel::test
