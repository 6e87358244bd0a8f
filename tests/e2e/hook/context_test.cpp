// Conversation context through the real binary: salvaged Cursor payloads, transcript
// files under the home directory, last messages and the working directory in the report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "hook_runner.hpp"

namespace ombrel::test {
namespace {

// The compact JSON text of a member of the report. The report is compact with its keys
// in byte order, and the values these tests look at hold no commas or braces of their own.
std::optional<std::string> member_text(const std::string& body, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  std::size_t at = body.find("," + key);
  if (at == std::string::npos && body.compare(1, key.size(), key) == 0) at = 0;
  if (at == std::string::npos) return std::nullopt;
  const std::size_t value = at + 1 + key.size();
  return body.substr(value, body.find_first_of(",}", value) - value);
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

constexpr const char* kFallbackLine = "[cursor] using fallback parser for Cursor JSON payload";
constexpr const char* kFieldLine =
    "[cursor] using field fallback parser for invalid Cursor JSON payload";

TEST(HookContext, SalvagedCursorPayloads) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    const char* log_line;
    // Expected members of the /state body, as compact JSON.
    std::vector<std::pair<std::string, std::string>> members;
  };
  const Case cases[] = {
      {"stray text after the object",
       {"--source", "claude"},
       R"({"cursor_version":"1.7.2","hook_event_name":"stop","conversation_id":"c1",)"
       R"("workspace_roots":["/w/proj"],"prompt":"hello"}
[trailing noise])",
       kFallbackLine,
       {{"source", R"("cursor")"},
        {"event", R"("Stop")"},
        {"session_id", R"("c1")"},
        {"cwd", R"("/w/proj")"},
        {"last_user_message", R"("hello")"}}},
      {"raw line break inside a string",
       {"--source", "cursor"},
       "{\"cursor_version\":\"1.7.2\",\"hook_event_name\":\"afterAgentResponse\",\"session_id\":"
       "\"s9\","
       "\"prompt\":\"line one\nline two\",\"tool_name\":\"Edit\",\"input_tokens\":12,"
       "\"transcript_path\":\"/t/s9.jsonl\",\"workspace_roots\":[\"/ws\"]}",
       kFieldLine,
       {{"source", R"("cursor")"},
        {"event", R"("Stop")"},
        {"session_id", R"("s9")"},
        {"transcript_path", R"("/t/s9.jsonl")"},
        {"cwd", R"("/ws")"},
        // Members outside the salvaged list are gone.
        {"last_user_message", "null"},
        {"tool_name", "null"}}},
      {"second of two concatenated objects",
       {"--source", "unknown"},
       R"({"hook_event_name":"first","session_id":"one"}{"cursor_version":"2.0",)"
       R"("hook_event_name":"sessionStart","session_id":"two","cwd":"/second"})",
       kFallbackLine,
       {{"source", R"("cursor")"},
        {"event", R"("SessionStart")"},
        {"session_id", R"("two")"},
        {"cwd", R"("/second")"}}},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    auto result = run.server(server.url()).args(c.args).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    ASSERT_EQ(server.requests().size(), 1u) << c.name << ": " << result.err;
    const std::string body = server.requests()[0].body;
    for (const auto& [member, want] : c.members) {
      EXPECT_EQ(member_text(body, member), want) << c.name << ": " << member << " in " << body;
    }
    EXPECT_TRUE(has_line(run.log_messages(), c.log_line)) << c.name << ":\n" << run.log();
  }
}

TEST(HookContext, UnsalvageableCursorPayloadFails) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  // Neither a parsable object with the key nor the two required members as strings.
  auto result = run.server(server.url())
                    .args({"--source", "cursor"})
                    .input("{\"cursor_version\":3,\"hook_event_name\":\"stop\",\"p\":\"a\nb\"}")
                    .run();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "{}");
  EXPECT_EQ(result.err.rfind("[ombrel-hook] Error: ", 0), 0u) << result.err;
  EXPECT_TRUE(server.requests().empty());
  const auto lines = run.log_messages();
  EXPECT_FALSE(has_line(lines, kFallbackLine));
  EXPECT_FALSE(has_line(lines, kFieldLine));
}

TEST(HookContext, ReportCarriesTranscriptMessagesAndCwd) {
  struct Case {
    const char* name;
    const char* source;
    std::string input;
    // Files to create under the home directory, with modification times.
    std::vector<std::pair<std::string, long>> files;
    std::vector<std::pair<std::string, std::string>> members;  // "~" is the home directory
  };
  const Case cases[] = {
      {"reasonix newest session file",
       "reasonix",
       R"({"hook_event_name":"Stop","cwd":"/x/proj",)"
       R"("messages":[{"role":"user","content":"  fix it  "},{"role":"assistant","content":"done"}]})",
       {{".reasonix/sessions/a.jsonl", 1000},
        {".reasonix/sessions/b.jsonl", 2000},
        {".reasonix/sessions/b.events.jsonl", 3000},
        {".reasonix/sessions/code-other.jsonl", 500}},
       {{"transcript_path", R"("~/.reasonix/sessions/b.jsonl")"},
        {"last_user_message", R"("fix it")"},
        {"last_assistant_message", R"("done")"},
        {"cwd", R"("/x/proj")"}}},
      {"reasonix project file",
       "reasonix",
       R"({"hook_event_name":"Stop","cwd":"/x/proj"})",
       {{".reasonix/sessions/code-proj.jsonl", 1000}, {".reasonix/sessions/b.jsonl", 2000}},
       {{"transcript_path", R"("~/.reasonix/sessions/code-proj.jsonl")"}}},
      {"vs code workspace folder uri",
       "copilot",
       R"({"hook_event_name":"Stop","workspaceFolders":[{"name":"proj","uri":"file:///Users/me/proj"}]})",
       {},
       {{"cwd", R"("/Users/me/proj")"}, {"transcript_path", "null"}}},
      {"gemini prompt and response",
       "gemini",
       R"({"hook_event_name":"AfterAgent","prompt":"  hi  ","prompt_response":"hello there"})",
       {},
       {{"last_user_message", R"("  hi  ")"},
        {"last_assistant_message", R"("hello there")"},
        {"cwd", "null"}}},
      {"kiro transcript built from the session id",
       "kiro",
       R"({"hook_event_name":"stop","session_id":"k1","assistant_response":"ok"})",
       {},
       {{"transcript_path", R"("~/.kiro/sessions/cli/k1.jsonl")"},
        {"last_assistant_message", R"("ok")"}}},
  };
  for (const auto& c : cases) {
    FakeServer server(json_ok("{}"));
    HookRun run;
    for (const auto& [path, mtime] : c.files) {
      auto full = run.home().write(path, "{}\n");
      const timespec times[2] = {{mtime, 0}, {mtime, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, full.c_str(), times, 0), 0) << path;
    }
    auto result = run.server(server.url()).args({"--source", c.source}).input(c.input).run();
    EXPECT_EQ(result.exit_code, 0) << c.name;
    ASSERT_EQ(server.requests().size(), 1u) << c.name << ": " << result.err;
    const std::string body = server.requests()[0].body;
    for (auto [member, want] : c.members) {
      if (auto tilde = want.find('~'); tilde != std::string::npos) {
        want.replace(tilde, 1, run.home().str());
      }
      EXPECT_EQ(member_text(body, member), want) << c.name << ": " << member << " in " << body;
    }
  }
}

TEST(HookContext, PermissionRequestCarriesTranscriptAndCwd) {
  FakeServer server(json_ok(
      R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})"));
  HookRun run;
  run.home().write(".kimi/sessions/old/s1/wire.jsonl", "{}\n");
  auto result =
      run.server(server.url())
          .args({"--source", "kimi"})
          .input(R"({"hook_event_name":"PermissionRequest","session_id":"s1",)"
                 R"("tool_name":"Bash","workspace_roots":["  ","file://localhost/w/app"]})")
          .run();
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(server.requests().size(), 1u) << result.err;
  EXPECT_EQ(server.requests()[0].path, "/permission");
  const std::string body = server.requests()[0].body;
  EXPECT_EQ(member_text(body, "transcript_path"),
            "\"" + run.home().str() + "/.kimi/sessions/old/s1/wire.jsonl\"")
      << body;
  EXPECT_EQ(member_text(body, "cwd"), R"("/w/app")") << body;
}

TEST(HookContext, LastUserMessageLogLine) {
  FakeServer server(json_ok("{}"));
  HookRun run;
  run.server(server.url())
      .args({"--source", "claude"})
      .input(R"({"hook_event_name":"UserPromptSubmit","message":"please\n   refactor   this"})")
      .run();
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(member_text(server.requests()[0].body, "last_user_message"),
            R"("please\n   refactor   this")");
  EXPECT_TRUE(has_line(run.log_messages(),
                       "[claude] last_user_message source=event key=message "
                       "event=UserPromptSubmit preview=\"please refactor this\""))
      << run.log();
}

}  // namespace
}  // namespace ombrel::test
