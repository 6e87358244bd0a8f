// The real ombrel-hook against the real devserver: its reports are kept, the server's
// decisions reach each agent in that agent's dialect, and a hook ended while it waits
// withdraws its approval.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "devserver_harness.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

using Json = nlohmann::json;

ProcessOptions hook(const TempDir& dir, const DevServer& server, const std::string& source,
                    const Json& payload) {
  ProcessOptions options;
  options.argv = {OMBREL_HOOK_PATH, "--source", source};
  options.env = Environment::current()
                    .set("OMBREL_SERVER", server.url())
                    .set("OMBREL_HOOK_LOG", (dir.path() / "hook.log").string())
                    .set("HOME", dir.str())
                    .set("OM_TMUX_SESSION", "om-feedbeef");
  options.stdin_data = payload.dump();
  return options;
}

Json claude(const std::string& tool, Json input, const std::string& session = "s1") {
  return {{"hook_event_name", "PermissionRequest"},
          {"session_id", session},
          {"tool_name", tool},
          {"tool_input", std::move(input)}};
}

TEST(WithTheHook, StateReportLandsInTheEventsFile) {
  TempDir dir;
  auto server =
      DevServer::start(OMBREL_DEVSERVER_PATH, {"--events", (dir.path() / "events.jsonl").string()});
  ASSERT_TRUE(server);
  Json payload = {{"hook_event_name", "PostToolUse"},
                  {"session_id", "hook-session"},
                  {"cwd", "/w"},
                  {"tool_name", "Bash"},
                  {"tool_input", {{"command", "git status"}}}};
  ProcessResult result = run_process(hook(dir, *server, "claude", payload));
  ASSERT_EQ(result.exit_code, 0) << result.err;

  Json event = Json::parse(read_file(dir.path() / "events.jsonl"));
  EXPECT_EQ(event["source"], "claude");
  EXPECT_EQ(event["event"], "PostToolUse");
  EXPECT_EQ(event["session_id"], "hook-session");
  EXPECT_EQ(event["om_tmux_session"], "om-feedbeef");
  EXPECT_EQ(event["tool_input"]["command"], "git status");
}

TEST(WithTheHook, DecisionsReachEachAgentInItsDialect) {
  TempDir dir;
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH,
                                 {"--decide", "allow", "--deny-tool", "Bash", "--answer", "2"});
  ASSERT_TRUE(server);
  const Json question =
      Json::parse(R"({"questions":[{"question":"Which?","options":["Red","Blue"]}]})");
  const std::tuple<std::string, Json, std::string, int> cases[] = {
      {"claude", claude("Read", {{"file_path", "/w/a"}}),
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},"hookEventName":"PermissionRequest"}})",
       0},
      {"claude", claude("Bash", {{"command", "rm -r /"}}),
       R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"ombrel-devserver denies the tool Bash"},"hookEventName":"PermissionRequest"}})",
       0},
      {"claude", claude("AskUserQuestion", question),
       R"({"hookSpecificOutput":{"decision":{"behavior":"allow","updatedInput":{"answers":{"Which?":"Blue"},"questions":[{"options":["Red","Blue"],"question":"Which?"}]}},"hookEventName":"PermissionRequest"}})",
       0},
      {"gemini",
       {{"hook_event_name", "BeforeTool"}, {"session_id", "g"}, {"tool_name", "Bash"}},
       R"({"decision":"deny","reason":"Denied by Ombrel"})",
       0},
      {"cursor",
       {{"hook_event_name", "preToolUse"}, {"conversation_id", "c"}, {"tool_name", "Read"}},
       R"({"permission":"allow"})",
       0},
      {"kiro",
       {{"hook_event_name", "preToolUse"}, {"session_id", "k"}, {"tool_name", "Bash"}},
       "",
       2},
  };
  for (const auto& [source, payload, out, code] : cases) {
    ProcessResult result = run_process(hook(dir, *server, source, payload));
    EXPECT_EQ(result.out, out) << source;
    EXPECT_EQ(result.exit_code, code) << source;
  }

  auto passing = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "passthrough"});
  ASSERT_TRUE(passing);
  // Claude rejects a PreToolUse-shaped "ask" on a PermissionRequest: silence keeps its prompt.
  EXPECT_EQ(run_process(hook(dir, *passing, "claude", claude("Bash", {}))).out, "");
}

TEST(WithTheHook, TheHookWaitsForTheTerminalAndWithdrawsWhenEnded) {
  TempDir dir;
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  ChildProcess answered(hook(dir, *server, "claude", claude("Bash", {{"command", "make deploy"}})));
  ASSERT_TRUE(server->wait_for("command: \"make deploy\""));
  server->type("n not on a Friday\n");
  EXPECT_EQ(
      answered.wait().out,
      R"({"hookSpecificOutput":{"decision":{"behavior":"deny","message":"not on a Friday"},"hookEventName":"PermissionRequest"}})");

  ChildProcess ended(hook(dir, *server, "claude", claude("Bash", {{"command", "sleep 1"}}, "abc")));
  ASSERT_TRUE(server->wait_for("command: \"sleep 1\""));
  ended.send_signal(SIGTERM);
  ProcessResult result = ended.wait();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(server->wait_for("cancel session=abc: withdrew #2"));
  EXPECT_TRUE(server->wait_for("#2 is no longer waiting"));
}

}  // namespace
}  // namespace ombrel::test
