// The devserver over real sockets: what each endpoint answers, what it shows and keeps,
// and that no client can stall or break it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "devserver_harness.hpp"
#include "process.hpp"
#include "temp_dir.hpp"

namespace ombrel::test {
namespace {

using Json = nlohmann::json;
using std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string permission(const std::string& tool, const std::string& session,
                       Json input = {{"command", "make"}}) {
  return Json{{"cwd", "/w"},
              {"session_id", session},
              {"source", "claude"},
              {"tool_input", std::move(input)},
              {"tool_name", tool}}
      .dump();
}

const Json kQuestion = Json::parse(
    R"({"questions":[{"question":"Which color?","options":[{"label":"Red"},{"label":"Blue"}]}]})");

std::string behavior_of(const HttpReply& reply) {
  Json body = Json::parse(reply.body, nullptr, false);
  const Json::json_pointer at("/hookSpecificOutput/decision/behavior");
  return body.is_object() && body.contains(at) ? body.at(at).get<std::string>() : "(none)";
}

std::string repeated(const std::string& text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

Connection hold(const DevServer& server, const std::string& body) {
  return Connection(server.port(), request_text("POST", "/permission", body));
}

TEST(Devserver, StateReportsAreShownAndAppendedOneLineEach) {
  TempDir dir;
  dir.write("events.jsonl", "{\"earlier\":true}\n");
  auto server =
      DevServer::start(OMBREL_DEVSERVER_PATH, {"--events", (dir.path() / "events.jsonl").string()});
  ASSERT_TRUE(server);
  const std::string report =
      R"({"cwd":"/w","event":"PreToolUse","om_tmux_session":"om-1","session_id":"s1","source":"claude",)"
      R"("tool_input":{"command":"make test"},"tool_name":"Bash"})";
  HttpReply reply = post(server->port(), "/state", report);
  EXPECT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.closed);
  EXPECT_EQ(
      post(server->port(), "/state", "{\n \"source\": \"gemini\",\n \"event\": \"Stop\"\n}").status,
      200);

  // Written before the answer went out.
  EXPECT_EQ(read_file(dir.path() / "events.jsonl"),
            "{\"earlier\":true}\n" + report + "\n{\"event\":\"Stop\",\"source\":\"gemini\"}\n");
  EXPECT_TRUE(server->wait_for("[gemini] Stop"));
  EXPECT_NE(server->output().find(
                R"([claude] PreToolUse Bash command="make test" cwd=/w session=s1 tmux=om-1)"),
            std::string::npos);
}

TEST(Devserver, ApprovalsFollowThePolicy) {
  const Json read = {{"file_path", "/w/a"}};
  const std::tuple<std::vector<std::string>, std::string, Json, std::string> cases[] = {
      {{"--decide", "allow", "--deny-tool", "Bash", "--answer", "2"}, "Bash", {}, "deny"},
      {{"--decide", "allow", "--deny-tool", "Bash", "--answer", "2"}, "Read", read, "allow"},
      {{"--decide", "allow", "--deny-tool", "Bash", "--answer", "2"},  // counted from 1
       "AskUserQuestion",
       kQuestion,
       "answer:1"},
      {{"--decide", "allow", "--answer", "3"}, "AskUserQuestion", kQuestion, "allow"},
      {{"--decide", "deny"}, "Read", read, "deny"},
      {{}, "Read", read, "passthrough"},  // the default when stdin is not a terminal
  };
  for (const auto& [args, tool, input, behavior] : cases) {
    SCOPED_TRACE(tool + " with " + testing::PrintToString(args));
    auto server = DevServer::start(OMBREL_DEVSERVER_PATH, args);
    ASSERT_TRUE(server);
    HttpReply reply = post(server->port(), "/permission", permission(tool, "s1", input));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(behavior_of(reply), behavior);
    EXPECT_EQ(Json::parse(reply.body)["hookSpecificOutput"]["decision"].contains("message"),
              behavior == "deny");
  }
}

TEST(Devserver, ApprovalsWaitForTheTerminal) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  Connection bash = hold(*server, permission("Bash", "s1", {{"command", "rm -r build"}}));
  ASSERT_TRUE(server->wait_for("command: \"rm -r build\""));
  server->type("what?\n");
  ASSERT_TRUE(server->wait_for("not understood"));
  EXPECT_FALSE(bash.answered());
  server->type("n use the test target\n");
  HttpReply reply = bash.reply();
  EXPECT_EQ(Json::parse(reply.body)["hookSpecificOutput"]["decision"]["message"],
            "use the test target");

  Connection question = hold(*server, permission("AskUserQuestion", "s1", kQuestion));
  ASSERT_TRUE(server->wait_for("2) Blue"));  // numbered from 1, sent from 0
  server->type("2\n");
  EXPECT_EQ(behavior_of(question.reply()), "answer:1");

  // Without a terminal to ask, later approvals go back to the agent.
  Connection last = hold(*server, permission("Read", "s1"));
  ASSERT_TRUE(server->wait_for("#3 [claude] Read wants permission"));
  server->end_input();
  EXPECT_EQ(behavior_of(last.reply()), "passthrough");
  EXPECT_EQ(behavior_of(post(server->port(), "/permission", permission("Bash", "s2"))),
            "passthrough");
}

TEST(Devserver, CancelWithdrawsOnlyThatSessionsApprovals) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  std::vector<Connection> held;
  for (const char* session : {"doomed", "doomed", "survivor"}) {  // one by one: known numbers
    held.push_back(hold(*server, permission("Bash", session)));
    ASSERT_TRUE(server->wait_for("] permission #", held.size()));
  }
  HttpReply cancel = post(server->port(), "/permission/cancel", R"({"session_id":"doomed"})");
  EXPECT_EQ(cancel.body, R"({"withdrawn":2})");
  for (int i : {0, 1}) {
    HttpReply released = held[i].reply();
    EXPECT_EQ(released.status, 410);
    EXPECT_TRUE(released.closed);
  }
  EXPECT_TRUE(server->wait_for("cancel session=doomed: withdrew #1, #2"));
  EXPECT_FALSE(held[2].answered());
  ASSERT_TRUE(server->wait_for("#3 [claude] Bash wants permission"));
  server->type("y\n");
  EXPECT_EQ(behavior_of(held[2].reply()), "allow");
}

TEST(Devserver, FiftyWaitingApprovalsHoldUpNothing) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  std::vector<Connection> held;
  for (int i = 0; i < 50; ++i)
    held.push_back(hold(*server, permission("Bash", "s" + std::to_string(i))));
  ASSERT_TRUE(server->wait_for("] permission #", 50));

  EXPECT_EQ(post(server->port(), "/state", R"({"source":"claude","event":"Stop"})").status, 200);
  Connection late = hold(*server, permission("Read", "late"));
  ASSERT_TRUE(server->wait_for("permission #51"));
  EXPECT_EQ(post(server->port(), "/permission/cancel", R"({"session_id":"late"})").body,
            R"({"withdrawn":1})");
  EXPECT_EQ(late.reply().status, 410);

  for (const Connection& connection : held) EXPECT_FALSE(connection.answered());
  for (int i = 0; i < 50; ++i) server->type("y\n");
  for (Connection& connection : held) EXPECT_EQ(behavior_of(connection.reply()), "allow");
}

TEST(Devserver, ShutdownReleasesWaitingApprovals) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  Connection waiting = hold(*server, permission("Bash", "s1"));
  ASSERT_TRUE(server->wait_for("y = allow"));
  ServerExit exit = server->stop(SIGTERM);
  EXPECT_EQ(exit.exit_code, 0);
  EXPECT_NE(exit.out.find("released 1 waiting approval without a decision"), std::string::npos)
      << exit.out;
  EXPECT_EQ(waiting.reply().status, 503);
}

TEST(Devserver, LookupYieldsTheSessionOfTheLatestReportFromThatTmuxSession) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {});
  ASSERT_TRUE(server);
  // As the launcher writes it: twelve keys in a fixed order.
  HttpReply registered = post(
      server->port(), "/tmux/register",
      R"({"tmux_name":"om-0a1b2c3d","tool":"claude","cwd":"/w","launcher_pid":42,)"
      R"("launcher_parent_pid":41,"launcher_tty":"ttys003","launcher_term_program":null,)"
      R"("launcher_bundle_id":null,"launcher_terminal_app":"iTerm2",)"
      R"("launcher_terminal_pid":null,"launcher_pid_chain":[42,41],"launcher_terminal_hwnd":null})");
  EXPECT_EQ(registered.status, 200);
  EXPECT_TRUE(
      server->wait_for("tmux register om-0a1b2c3d tool=claude cwd=/w terminal=iTerm2 tty=ttys003"));

  const std::string lookup = R"({"tmux_name":"om-0a1b2c3d"})";
  EXPECT_EQ(post(server->port(), "/tmux/lookup", lookup).body, R"({"ai_session_id":null})");
  for (const char* session : {"first", "second"}) {
    Json report = {{"event", "Stop"}, {"session_id", session}, {"om_tmux_session", "om-0a1b2c3d"}};
    ASSERT_EQ(post(server->port(), "/state", report.dump()).status, 200);
  }
  HttpReply found = post(server->port(), "/tmux/lookup", lookup);
  EXPECT_EQ(found.body, R"({"ai_session_id":"second"})");  // the launcher searches these bytes
  EXPECT_TRUE(found.closed);
}

TEST(Devserver, MalformedRequestsAreRefusedAndServingGoesOn) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "allow"});
  ASSERT_TRUE(server);
  const std::pair<std::string, int> cases[] = {
      {request_text("POST", "/state", "not json"), 400},
      {request_text("POST", "/permission", R"({"tool_name":"Ba)"), 400},
      {request_text("POST", "/state", "[1,2,3]"), 400},
      {request_text("POST", "/state", std::string(5000, '[') + std::string(5000, ']')), 400},
      {request_text("POST", "/permission/cancel", R"({"session":"x"})"), 400},
      {request_text("POST", "/tmux/register", R"({"tool":"claude"})"), 400},
      {request_text("POST", "/tmux/lookup", R"({"tmux_name":7})"), 400},
      {request_text("GET", "/state", ""), 405},
      {request_text("PUT", "/permission", "{}"), 405},
      {request_text("POST", "/nowhere", "{}"), 404},
      {"\x01\x02garbage\xff\r\n\r\n", 400},
      {"BREW /state HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"POST /state HTTP/1.1\r\nContent-Length: lots\r\n\r\n{}", 400},
      {request_text("POST", "/state", std::string(16 * 1024 * 1024 + 1, ' ')), 413},
      {"POST /state HTTP/1.1\r\n" + repeated("X-Filler: " + std::string(90, 'x') + "\r\n", 10000) +
           "\r\n",
       431},
      {"POST /state HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
           repeated("10000\r\n" + std::string(0x10000, ' ') + "\r\n", 320) + "0\r\n\r\n",
       413},
  };
  const Json probe = {{"source", "probe"}, {"event", "Ping"}};
  for (const auto& [bytes, status] : cases) {
    SCOPED_TRACE(bytes.substr(0, 40));
    HttpReply reply = Connection(server->port(), bytes).reply();
    EXPECT_EQ(reply.status, status);
    EXPECT_TRUE(reply.closed);
    EXPECT_TRUE(Json::parse(reply.body, nullptr, false).contains("error")) << reply.body;
    EXPECT_EQ(post(server->port(), "/state", probe.dump()).status, 200);
  }
  // Requests cut off midway get nothing or a refusal, never a decision.
  for (const char* cut :
       {"", "POST /sta", "POST /permission HTTP/1.1\r\nContent-Length: 500\r\n\r\n{\"t"}) {
    Connection connection(server->port(), cut);
    connection.end_writing();
    HttpReply reply = connection.reply();
    EXPECT_TRUE(reply.closed);
    EXPECT_TRUE(reply.status == 0 || reply.status == 400) << reply.head;
    EXPECT_EQ(post(server->port(), "/state", probe.dump()).status, 200);
  }
}

TEST(Devserver, EveryAnswerClosesTheConnectionEvenWhenTheClientWouldKeepIt) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {});
  ASSERT_TRUE(server);
  const std::string request =
      "POST /tmux/lookup HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}";
  HttpReply reply = Connection(server->port(), request + request).reply();
  EXPECT_EQ(reply.status, 400);  // the first request only: no tmux_name
  EXPECT_NE(reply.head.find("Connection: close"), std::string::npos);
  EXPECT_TRUE(reply.closed);
  EXPECT_EQ(reply.body.find("HTTP/1.1"), std::string::npos);
}

TEST(Devserver, StartupMistakes) {
  auto busy = DevServer::start(OMBREL_DEVSERVER_PATH, {});
  ASSERT_TRUE(busy);
  TempDir dir;
  const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
      {{"--listen", "127.0.0.1:" + std::to_string(busy->port())}, 1, "cannot listen on"},
      {{"--events", (dir.path() / "no" / "such.jsonl").string()}, 1, "cannot open"},
      {{"--colour"}, 2, "unknown option --colour"},
  };
  for (const auto& [args, code, error] : cases) {
    ProcessOptions options;
    options.argv = {OMBREL_DEVSERVER_PATH, "--listen", "127.0.0.1:0"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, code) << error;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(error), std::string::npos) << result.err;
  }
}

TEST(Devserver, HelpAndVersionAnswerBeforeAnythingElse) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--help"}, "Usage: ombrel-devserver [options]\n"},
      {{"--listen", "nowhere", "-h"}, "Usage: ombrel-devserver [options]\n"},
      {{"--colour", "--version"}, "ombrel-devserver "},
  };
  for (const auto& [args, first_words] : cases) {
    ProcessOptions options;
    options.argv = {OMBREL_DEVSERVER_PATH};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 0) << args.back();
    EXPECT_EQ(result.out.rfind(first_words, 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

// The hostile clients below cost the server a descriptor each, never a thread or a slot
// that a report needs.
const std::string kProbe = R"({"source":"probe","event":"Ping"})";

TEST(Devserver, ATricklingClientIsCutOffWhileReportsArrive) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {});
  ASSERT_TRUE(server);
  const std::string request = request_text("POST", "/state", R"({"source":"slow","event":"Stop"})");
  Connection slow(server->port(), "");
  const auto start = steady_clock::now();
  for (std::size_t sent = 0; sent < request.size() && !slow.answered(); ++sent) {
    slow.send(request.substr(sent, 1));  // a byte every 100 ms: whole after about 14 s
    if (sent % 10 == 0) {
      EXPECT_EQ(post(server->port(), "/state", kProbe).status, 200);
    }
    std::this_thread::sleep_for(100ms);
  }
  const auto cut_after = steady_clock::now() - start;
  EXPECT_EQ(slow.reply().status, 408);
  EXPECT_GT(cut_after, 4s);
  EXPECT_LT(cut_after, 8s);
  EXPECT_EQ(server->output().find("[slow]"), std::string::npos);
}

TEST(Devserver, ManySlowConnectionsDoNotKeepAReportOut) {
  constexpr std::size_t kSlow = 1500;  // more than the server keeps at once
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < kSlow + 100) {
    files.rlim_cur = std::min<rlim_t>(kSlow + 100, files.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
  }
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {});
  ASSERT_TRUE(server);
  std::vector<Connection> slow;
  for (std::size_t i = 0; i < kSlow; ++i)
    slow.emplace_back(server->port(), "POST /state HTTP/1.1\r\n");
  const auto start = steady_clock::now();
  EXPECT_EQ(post(server->port(), "/state", kProbe).status, 200);
  EXPECT_LT(steady_clock::now() - start, 2s);
  EXPECT_TRUE(server->wait_for("[probe] Ping"));
}

TEST(Devserver, SigintStopsWithinASecondWhateverTheClientsDo) {
  auto server = DevServer::start(OMBREL_DEVSERVER_PATH, {"--decide", "ask"});
  ASSERT_TRUE(server);
  std::vector<Connection> stalled;
  for (int i = 0; i < 100; ++i) {
    stalled.emplace_back(server->port(), "POST /sta");
    stalled.emplace_back(server->port(), "POST /state HTTP/1.1\r\nContent-Length: 99\r\n\r\n{");
  }
  Connection waiting = hold(*server, permission("Bash", "s1"));
  ASSERT_TRUE(server->wait_for("y = allow"));
  const auto start = steady_clock::now();
  ServerExit exit = server->stop(SIGINT);
  EXPECT_LT(steady_clock::now() - start, 1s);
  EXPECT_EQ(exit.exit_code, 0);
  EXPECT_EQ(waiting.reply().status, 503);
}

}  // namespace
}  // namespace ombrel::test
