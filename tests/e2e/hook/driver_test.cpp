// The hook driver and the state report, through the real binary.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>

#include "hook_runner.hpp"

namespace ombrel::test {
namespace {

const std::string kClaudePostToolUse =
    R"({"session_id":"abc","transcript_path":"/home/me/.claude/t.jsonl","cwd":"/proj",)"
    R"("hook_event_name":"PostToolUse","tool_name":"Bash","tool_input":{"command":"ls -la"},)"
    R"("tool_response":{"stdout":"x"},"tool_use_id":"toolu_01"})";

std::string ppid_text() {
  return std::to_string(getpid());
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(HookDriver, ReportsExactBytes) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  run.server(server.url())
      .args({"--source", "claude"})
      .input(kClaudePostToolUse)
      .env("OM_TMUX_SESSION", "om-1234abcd");
  auto result = run.run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  ASSERT_EQ(server.requests().size(), 1u);
  // The transcript path and cwd come from the payload; members in byte order, compact.
  const std::string body =
      R"({"cwd":"/proj","event":"PostToolUse","hook_version":"0.4.2","last_assistant_message":null,)"
      R"("last_user_message":null,"om_tmux_session":"om-1234abcd","pid":)" +
      ppid_text() +
      R"(,"session_id":"abc","source":"claude","tool_input":{"command":"ls -la"},)"
      R"("tool_name":"Bash","tool_use_id":"toolu_01","transcript_path":"/home/me/.claude/t.jsonl",)"
      R"("turn_id":null})";
  const std::string expected =
      "POST /state HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
      "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n\r\n" + body;
  EXPECT_EQ(server.requests()[0].raw, expected);
}

TEST(HookDriver, OutcomeTable) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string want_out;
    std::string want_err;
    std::size_t want_requests;
  };
  const std::string parse_error_prefix = "[ombrel-hook] Error: invalid JSON at byte ";
  const Case cases[] = {
      {"no default answer", {"--source", "claude"}, kClaudePostToolUse, "", "", 1},
      {"cursor default answer",
       {"--source", "cursor"},
       R"({"hook_event_name":"beforeSubmitPrompt"})",
       R"({"continue":true})",
       "",
       1},
      {"gemini default answer",
       {"--source", "gemini"},
       R"({"hook_event_name":"AfterTool"})",
       R"({"decision":"allow"})",
       "",
       1},
      {"cline default answer",
       {"--source", "cline"},
       R"({"hookName":"TaskStart"})",
       R"({"cancel":false})",
       "",
       1},
      {"gemini AfterModel suppressed",
       {"--source", "gemini"},
       R"({"hook_event_name":"AfterModel"})",
       "",
       "",
       0},
      {"read error",
       {"--source", "claude"},
       "{\"a\":\"\xFF\"}",
       "{}",
       "[ombrel-hook] Error: stream did not contain valid UTF-8\n",
       0},
      {"invalid json", {"--source", "claude"}, "{\"a\":", "{}", parse_error_prefix, 0},
      {"two objects without cursor", {"--source", "claude"}, "{}{}", "{}", parse_error_prefix, 0},
      {"text before the object", {"--source", "claude"}, "data: {}", "{}", parse_error_prefix, 0},
      {"NUL and more after the object",
       {"--source", "claude"},
       std::string("{\"hook_event_name\":\"Stop\"}\0junk", 31),
       "{}",
       parse_error_prefix,
       0},
      {"too deep",
       {"--source", "claude"},
       std::string(200, '[') + std::string(200, ']'),
       "{}",
       "[ombrel-hook] Error: JSON nested deeper than 128 levels\n",
       0},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    auto result = run.server(server.url()).args(c.args).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, c.want_out) << c.name;
    if (c.want_err == parse_error_prefix) {
      EXPECT_EQ(result.err.rfind(c.want_err, 0), 0u) << c.name << ": " << result.err;
      EXPECT_EQ(result.err.back(), '\n') << c.name;
    } else {
      EXPECT_EQ(result.err, c.want_err) << c.name;
    }
    // The failure cases never contact the server; the rest post exactly one report.
    if (c.want_requests == 1) server.wait_for_requests(1);
    EXPECT_EQ(server.requests().size(), c.want_requests) << c.name;
  }
}

TEST(HookDriver, FailureLogLines) {
  FakeServer server(json_ok("{}"));
  {
    HookRun run;
    run.server(server.url()).args({"--source", "claude"}).input("{\"a\":\"\xFF\"}").run();
    auto log = run.log_messages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "[claude] ERROR: stdin read failed: stream did not contain valid UTF-8");
  }
  {
    HookRun run;
    auto result = run.server(server.url()).args({"--source", "claude"}).input("{").run();
    auto log = run.log_messages();
    ASSERT_EQ(log.size(), 1u);  // no RAW STDIN line for input that does not parse
    EXPECT_EQ(log[0], "[claude] ERROR: " + result.err.substr(21, result.err.size() - 22));
  }
}

TEST(HookDriver, EmptyInputStillReports) {
  struct Case {
    std::string input;
    std::string raw_line;  // the byte count covers the input trimmed of white space only
  };
  const Case cases[] = {
      {"", "[unknown] hook v0.4.2 RAW STDIN (0 bytes): "},
      {"  \n\t", "[unknown] hook v0.4.2 RAW STDIN (0 bytes): "},
      {"\uFEFF", "[unknown] hook v0.4.2 RAW STDIN (3 bytes): \uFEFF"},
      {std::string("\0\0", 2), std::string("[unknown] hook v0.4.2 RAW STDIN (2 bytes): \0\0", 45)},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    auto result = run.server(server.url()).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(
        server.requests()[0].body,
        R"({"cwd":null,"event":"Unknown","hook_version":"0.4.2","last_assistant_message":null,)"
        R"("last_user_message":null,"om_tmux_session":null,"pid":)" +
            ppid_text() +
            R"(,"session_id":null,"source":"unknown","tool_input":null,"tool_name":null,)"
            R"("tool_use_id":null,"transcript_path":null,"turn_id":null})");
    auto log = run.log_messages();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], c.raw_line);
    EXPECT_TRUE(contains(log, "[unknown] STATE stdin keys: "));
    EXPECT_TRUE(contains(log, "[unknown] STATE session_id=MISSING"));
  }
}

TEST(HookDriver, TraceLines) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  const std::string input = "\n  " + kClaudePostToolUse + "  \n";
  run.server(server.url()).args({"--source", "codex"}).input(input).run();
  auto log = run.log_messages();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "[codex] hook v0.4.2 RAW STDIN (" + std::to_string(kClaudePostToolUse.size()) +
                        " bytes): " + kClaudePostToolUse);
  EXPECT_TRUE(std::regex_match(
      log[1], std::regex(R"(\[codex\] event=PostToolUse tool=Bash pid=\d+ ppid=)" + ppid_text())));
  EXPECT_TRUE(contains(log,
                       "[codex] STATE stdin keys: cwd, hook_event_name, session_id, tool_input, "
                       "tool_name, tool_response, tool_use_id, transcript_path"));
  EXPECT_TRUE(contains(log, "[codex] STATE session_id=abc"));
  // Every entry starts with the timestamp.
  std::regex stamp(R"(^\d{10}\.\d{3}Z \[)");
  std::istringstream lines(run.log());
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
}

TEST(HookDriver, RawPreviewIsCutByCharacters) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  std::string text;
  for (int i = 0; i < 3100; ++i) text += "é";
  const std::string input = R"({"prompt":")" + text + R"("})";
  run.server(server.url()).args({"--source", "claude"}).input(input).run();
  auto log = run.log_messages();
  ASSERT_FALSE(log.empty());
  const std::string want_prefix =
      "[claude] hook v0.4.2 RAW STDIN (" + std::to_string(input.size()) + " bytes): ";
  ASSERT_EQ(log[0].rfind(want_prefix, 0), 0u);
  std::string preview = log[0].substr(want_prefix.size());
  EXPECT_EQ(preview, input.substr(0, 11 + (3000 - 11) * 2));  // 11 ASCII characters, then é
}

TEST(HookDriver, SourceAndEventSelection) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    const char* want_source;
    const char* want_event;
  };
  const Case cases[] = {
      {"event option",
       {"--source", "copilot", "--event", "sessionStart"},
       "{}",
       "copilot",
       "SessionStart"},
      {"payload event wins", {"--event", "Stop"}, R"({"hook_event_name":"X"})", "unknown", "X"},
      {"null falls through to hookName",
       {},
       R"({"hook_event_name":null,"hookName":"Stop"})",
       "unknown",
       "Stop"},
      {"number as text", {}, R"({"hook_event_name":7})", "unknown", "7"},
      {"empty string stops the search",
       {"--event", "Stop"},
       R"({"hook_event_name":""})",
       "unknown",
       ""},
      {"type member", {}, R"({"type":"T"})", "unknown", "T"},
      {"cursor_version overrides the source",
       {"--source", "claude"},
       R"({"cursor_version":"1.0","hook_event_name":"stop"})",
       "cursor",
       "Stop"},
      {"capitalised Cursor is not cursor",
       {"--source", "Cursor"},
       R"({"hook_event_name":"stop"})",
       "Cursor",
       "stop"},
      {"switch source", {"--source", "--event", "Stop"}, "{}", "true", "Stop"},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    run.server(server.url()).args(c.args).input(c.input).run();
    ASSERT_EQ(server.requests().size(), 1u) << c.name;
    const std::string body = server.requests()[0].body;
    EXPECT_NE(body.find(std::string(R"("source":")") + c.want_source + "\""), std::string::npos)
        << c.name << ": " << body;
    EXPECT_NE(body.find(std::string(R"("event":")") + c.want_event + "\""), std::string::npos)
        << c.name << ": " << body;
  }
}

TEST(HookDriver, CursorOverrideLogLine) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  run.server(server.url()).args({"--source", "claude"}).input(R"({"cursor_version":null})").run();
  auto log = run.log_messages();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1],
            "[claude] cursor_version detected in payload -> overriding source to \"cursor\"");
  EXPECT_EQ(log[2].rfind("[cursor] event=Unknown tool= pid=", 0), 0u);
}

TEST(HookDriver, ServerAnswersNeverMatter) {
  struct Case {
    const char* name;
    std::string bytes;
    bool reset;           // close with RST after the bytes
    std::string failure;  // expected log line suffix; empty: no failure line
  };
  const Case cases[] = {
      {"no content", "HTTP/1.1 204 No Content\r\n\r\n", false, ""},
      {"busy", "HTTP/1.1 409 Conflict\r\n\r\n busy \n", false, "HTTP 409: busy"},
      {"server error", "HTTP/1.1 500 Internal Server Error\r\n\r\n", false, "HTTP 500"},
      {"garbage", "garbage", false, ""},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
       false, ""},
      {"invalid utf-8", "HTTP/1.1 200 OK\r\n\r\n\xFF", false, "stream did not contain valid UTF-8"},
      {"reset", "", true, "Connection reset by peer"},
  };
  for (const auto& c : cases) {
    FakeServer server([&](const Request&) {
      Reply reply{c.bytes};
      reply.reset = c.reset;
      return reply;
    });
    HookRun run;
    auto result = run.server(server.url())
                      .args({"--source", "cursor"})
                      .input(R"({"hook_event_name":"beforeSubmitPrompt"})")
                      .run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.out, R"({"continue":true})") << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    auto log = run.log_messages();
    bool failed = !log.empty() && log.back().rfind("[cursor] POST /state failed: ", 0) == 0;
    if (c.failure.empty()) {
      EXPECT_FALSE(failed) << c.name << ": " << log.back();
    } else {
      ASSERT_TRUE(failed) << c.name;
      EXPECT_EQ(log.back(), "[cursor] POST /state failed: " + c.failure) << c.name;
    }
  }
}

TEST(HookDriver, ServerDown) {
  HookRun run;
  auto result =
      run.server(dead_server_url()).args({"--source", "claude"}).input(kClaudePostToolUse).run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  auto log = run.log_messages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "[claude] POST /state failed: Connection refused");
}

TEST(HookDriver, ServerUrls) {
  // The form ombrel-devserver prints for an IPv6 address: resolved without the brackets,
  // named with them on the Host: line.
  FakeServer ipv6([](const Request&) { return Reply{json_ok("{}")}; }, Loopback::V6);
  const std::string dead = dead_server_url();
  struct Case {
    std::string url;
    std::string error;  // empty: the report arrives, with this Host: line
    std::string host;
  };
  const Case cases[] = {
      {"https://127.0.0.1:7337", "only http:// URLs are supported", ""},
      {"http://127.0.0.1:", "cannot parse integer from empty string", ""},
      {"http://127.0.0.1:70000", "number too large to fit in target type", ""},
      {"", "only http:// URLs are supported", ""},
      {dead + "/a\r\nX-Injected: 1", "server URL holds a control character or a space", ""},
      {dead + "/a b", "server URL holds a control character or a space", ""},
      {ipv6.url(), "", "[::1]:" + std::to_string(ipv6.port())},
  };
  for (const auto& c : cases) {
    HookRun run;
    auto result = run.server(c.url)
                      .args({"--source", "gemini"})
                      .input(R"({"hook_event_name":"AfterTool"})")
                      .run();
    EXPECT_EQ(result.exit_code, 0) << c.url;
    EXPECT_EQ(result.out, R"({"decision":"allow"})") << c.url;
    auto log = run.log_messages();
    ASSERT_FALSE(log.empty());
    if (c.error.empty()) {
      ASSERT_EQ(ipv6.requests().size(), 1u) << c.url;
      EXPECT_EQ(ipv6.requests()[0].headers.rfind("Host: " + c.host + "\r\n", 0), 0u) << c.url;
    } else {
      EXPECT_EQ(log.back(), "[gemini] POST /state failed: " + c.error) << c.url;
    }
  }
}

TEST(HookDriver, SignalsDoNotEndTheReport) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    FakeServer server([](const Request&) {
      Reply r{json_ok("{}")};
      r.delay = std::chrono::milliseconds(300);
      return r;
    });
    HookRun run;
    run.server(server.url())
        .args({"--source", "cursor"})
        .input(R"({"hook_event_name":"beforeSubmitPrompt"})");
    ChildProcess child = run.start();
    ASSERT_TRUE(server.wait_for_requests(1));
    child.send_signal(sig);
    auto result = child.wait();
    EXPECT_EQ(result.term_signal, 0) << sig;
    EXPECT_EQ(result.exit_code, 0) << sig;
    EXPECT_EQ(result.out, R"({"continue":true})") << sig;
    auto log = run.log_messages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().find("POST /state failed"), std::string::npos) << log.back();
  }
}

TEST(HookDriver, AgentClosingStdoutEarly) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  auto result = run.server(server.url())
                    .args({"--source", "cursor"})
                    .input(R"({"hook_event_name":"beforeSubmitPrompt"})")
                    .close_stdout_early()
                    .run();
  EXPECT_EQ(result.term_signal, 0);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(contains(run.log_messages(), "[cursor] ERROR: Broken pipe"));
  EXPECT_EQ(result.err, "[ombrel-hook] Error: Broken pipe\n");
}

TEST(HookDriver, LogLocation) {
  FakeServer server(json_ok("{}"));
  {
    HookRun run;
    const std::string path = run.home().str() + "/missing/dir/deeper/hook.log";
    run.server(server.url()).env("OMBREL_HOOK_LOG", path).input("{}").run();
    EXPECT_NE(read_file(path).find("RAW STDIN"), std::string::npos);
  }
  {
    HookRun run;
    run.server(server.url()).unset("OMBREL_HOOK_LOG").input("{}").run();
    EXPECT_NE(read_file(run.home().path() / ".ombrel/hook.log").find("RAW STDIN"),
              std::string::npos);
  }
  {
    // An empty HOME puts the log under the working directory.
    HookRun run;
    TempDir cwd;
    ProcessOptions options =
        run.server(server.url()).unset("OMBREL_HOOK_LOG").env("HOME", "").input("{}").options();
    options.cwd = cwd.str();
    run_process(options);
    EXPECT_NE(read_file(cwd.path() / ".ombrel/hook.log").find("RAW STDIN"), std::string::npos);
  }
  {
    // An empty OMBREL_HOOK_LOG names no file: nothing is logged, and nothing breaks.
    HookRun run;
    auto result = run.server(server.url()).env("OMBREL_HOOK_LOG", "").input("{}").run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_FALSE(std::filesystem::exists(run.home().path() / ".ombrel"));
  }
}

// What a person meets at the hook's own terminal; an agent never passes these words alone
// and never gives the hook a terminal, so for agents "--help" stays an ordinary switch.
TEST(HookDriver, APersonAtTheHooksTerminal) {
  enum class Stdin { HeldOpen, Typed, CtrlC };
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Stdin in;
    std::string want_out;  // the help only begins so
    std::string want_err;
    int want_signal;
    std::size_t want_requests;
  };
  const std::string notice =
      "[ombrel-hook] Reading one JSON payload from stdin; end it with Ctrl-D, or quit with "
      "Ctrl-C. See ombrel-hook --help.\n";
  const Case cases[] = {
      {"--help answers at once",
       {"--help"},
       Stdin::HeldOpen,
       "Usage: ombrel-hook --source",
       "",
       0,
       0},
      {"--version answers at once",
       {"--version"},
       Stdin::HeldOpen,
       "ombrel-hook 0.4.2\n",
       "",
       0,
       0},
      {"--help beside other words is a switch",
       {"--help", "--source", "claude"},
       Stdin::Typed,
       "",
       notice,
       0,
       1},
      {"Ctrl-C ends the wait for the payload",
       {"--source", "claude"},
       Stdin::CtrlC,
       "",
       notice,
       SIGINT,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServer server(json_ok("{}"));
    HookRun run;
    ProcessOptions options = run.server(server.url()).args(c.args).options();
    options.hold_stdin = true;
    options.stdin_terminal = c.in != Stdin::HeldOpen;
    ChildProcess hook(options);
    if (c.in == Stdin::Typed) {
      hook.feed(kClaudePostToolUse + "\n");
      hook.end_input();
    } else if (c.in == Stdin::CtrlC) {
      ASSERT_TRUE(hook.wait_for_stderr(notice));
      hook.send_signal(SIGINT);
    }
    ProcessResult ended = hook.wait();
    EXPECT_FALSE(ended.timed_out);
    EXPECT_EQ(ended.term_signal, c.want_signal);
    if (c.want_signal == 0) {
      EXPECT_EQ(ended.exit_code, 0);
    }
    EXPECT_EQ(c.args == std::vector<std::string>{"--help"} ? ended.out.substr(0, c.want_out.size())
                                                           : ended.out,
              c.want_out);
    EXPECT_EQ(ended.err, c.want_err);
    if (c.want_requests > 0) server.wait_for_requests(c.want_requests);
    EXPECT_EQ(server.requests().size(), c.want_requests);
    EXPECT_EQ(std::filesystem::exists(run.log_path()), c.want_requests > 0);
  }
}

TEST(HookDriver, TmuxSessionAndSessionIds) {
  struct Case {
    const char* name;
    std::string input;
    std::optional<std::string> tmux;
    std::string want_fragment;
    std::string want_log;
  };
  const Case cases[] = {
      {"empty tmux session stays a string", "{}", "", R"("om_tmux_session":"")",
       "[unknown] STATE session_id=MISSING"},
      {"invalid utf-8 tmux session is unset", "{}", "om-\xFF", R"("om_tmux_session":null)", ""},
      {"taskId in the body but not the log", R"({"taskId":"t1"})", std::nullopt,
       R"("session_id":"t1")", "[unknown] STATE session_id=MISSING"},
      {"numeric session id", R"({"session_id":42})", std::nullopt, R"("session_id":"42")",
       "[unknown] STATE session_id=42"},
      {"turn id", R"({"turnId":"u2"})", std::nullopt, R"("turn_id":"u2")", ""},
      {"toolArgs when no tool input", R"({"toolArgs":"{\"commands\":[\"a\",\"b\"]}"})",
       std::nullopt, R"("tool_input":{"command":"a\nb","commands":["a","b"]})", ""},
      {"toolArgs ignored beside a tool input", R"({"tool_input":{"x":1},"toolArgs":"{}"})",
       std::nullopt, R"("tool_input":{"x":1})", ""},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    run.server(server.url()).input(c.input);
    if (c.tmux) run.env("OM_TMUX_SESSION", *c.tmux);
    run.run();
    ASSERT_EQ(server.requests().size(), 1u) << c.name;
    EXPECT_NE(server.requests()[0].body.find(c.want_fragment), std::string::npos)
        << c.name << ": " << server.requests()[0].body;
    if (!c.want_log.empty()) {
      EXPECT_TRUE(contains(run.log_messages(), c.want_log)) << c.name;
    }
  }
}

}  // namespace
}  // namespace ombrel::test
