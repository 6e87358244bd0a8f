#include "bridge.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fake_runner.hpp"
#include "fake_server.hpp"

namespace ombrel::launcher {
namespace {

using ombrel::test::FakeServer;
using ombrel::test::Reply;
using test::exited;
using test::FakeRunner;
using Opt = std::optional<std::string_view>;

TEST(Wsl, WslenvGainsExactlyOneWritableSessionEntry) {
  struct Case {
    Opt in;
    std::string out;
  } cases[] = {{std::nullopt, "OM_TMUX_SESSION/w"},
               {"", "OM_TMUX_SESSION/w"},
               {":::", "OM_TMUX_SESSION/w"},
               {"PATH/l:FOO", "PATH/l:FOO:OM_TMUX_SESSION/w"},
               {"OM_TMUX_SESSION/u::FOO/p", "FOO/p:OM_TMUX_SESSION/w"},
               {"OM_TMUX_SESSION:OM_TMUX_SESSIONS/p", "OM_TMUX_SESSIONS/p:OM_TMUX_SESSION/w"}};
  for (const auto& c : cases) EXPECT_EQ(wslenv_with_om_tmux_session(c.in), c.out) << *c.in;
}

TEST(Wsl, RecognisesWindowsDrivePaths) {
  struct Case {
    std::string path;
    bool interop;
  } cases[] = {{"/mnt/c/Users/me/bin/codex", true},
               {"\\mnt\\d\\tools\\codex.exe", true},
               {"/mnt/D/x", true},
               {"/mnt/c/", false},
               {"/mnt/cc/x", false},
               {"/mnt/1/xx", false},
               {"/usr/local/bin/codex", false},
               {"mnt/c/Users/x", false}};
  for (const auto& c : cases) EXPECT_EQ(is_wsl_windows_interop_path(c.path), c.interop) << c.path;
}

TEST(Wsl, CodexHomeIsRepairedOnlyWhenMissingOrWindowsStyle) {
  struct Case {
    Opt home, codex_home;
    std::optional<std::string> out;
  } cases[] = {{"/home/u", std::nullopt, "/home/u/.codex"},
               {"/home/u", "D:/codex", "/home/u/.codex"},
               {"/home/u", "D:\\Users\\me\\.codex", "/home/u/.codex"},
               {"/home/u", "/opt/codex", std::nullopt},
               {"/home/u", "D:", std::nullopt},
               {"/home/u", "1:/x", std::nullopt},
               {"/home/u", "", std::nullopt},
               {std::nullopt, "D:/codex", std::nullopt}};
  for (const auto& c : cases) {
    EXPECT_EQ(wsl_codex_home(c.home, c.codex_home), c.out) << c.codex_home.value_or("(unset)");
  }
}

TEST(Http, ParsesServerUrls) {
  struct Case {
    std::string url, host;
    int port;  // -1: the URL is refused
    std::string path;
  } cases[] = {{"http://127.0.0.1:7337/tmux/register", "127.0.0.1", 7337, "/tmux/register"},
               {"http://127.0.0.1:7337//tmux/register", "127.0.0.1", 7337, "//tmux/register"},
               {"http://127.0.0.1/tmux/register", "127.0.0.1", 80, "/tmux/register"},
               {"http://h:1", "h", 1, "/"},
               {"http://h:1/p?q=a:b#f", "h", 1, "/p?q=a:b#f"},
               {"http://[::1]:8080/x", "[::1]", 8080, "/x"},
               {"https://h/x", "", -1, "only http:// URLs supported"},
               {"HTTP://h/x", "", -1, "only http:// URLs supported"},
               {"http://h:/x", "", -1, ""},
               {"http://h:99999/", "", -1, ""}};
  for (const auto& c : cases) {
    auto r = parse_http_url(c.url);
    ASSERT_EQ(r.ok(), c.port >= 0) << c.url;
    if (!r) {
      if (!c.path.empty()) {
        EXPECT_EQ(r.error(), c.path);
      }
      continue;
    }
    EXPECT_EQ(r.value().host, c.host) << c.url;
    EXPECT_EQ(r.value().port, c.port) << c.url;
    EXPECT_EQ(r.value().path, c.path) << c.url;
  }
  EXPECT_EQ(http_request_text({"127.0.0.1", 80, "/tmux/register"}, "{}"),
            "POST /tmux/register HTTP/1.1\r\nHost: 127.0.0.1:80\r\nContent-Type: "
            "application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
}

TEST(Http, OnlyTwoHundredsSucceedAndBodiesAreNotDecoded) {
  struct Case {
    std::string response;
    bool ok;
    std::string text;  // the body, or the error
  } cases[] = {
      {"HTTP/1.1 204 No Content\r\n\r\n", true, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}", true, "{}"},
      {"HTTP/1.1 200 OK\r\n\r\n5\r\nhello\r\n0\r\n\r\n", true, "5\r\nhello\r\n0\r\n\r\n"},
      {"HTTP/1.1 299 Fine", true, ""},
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n{}", false, "HTTP/1.1 500 Internal Server Error"},
      {"HTTP/1.1 300 Multiple\n\n", false, "HTTP/1.1 300 Multiple"},
      {"HTTP/1.1 abc OK\r\n\r\n", false, "HTTP/1.1 abc OK"},
      {"HTTP/1.1\r\n\r\n", false, "HTTP/1.1"},
      {"garbage", false, "garbage"},
      {"", false, "no response"}};
  for (const auto& c : cases) {
    auto r = response_body(c.response);
    ASSERT_EQ(r.ok(), c.ok) << c.response;
    EXPECT_EQ(r ? r.value() : r.error(), c.text) << c.response;
  }
}

TEST(Http, DirectPostSurvivesMisbehavingServers) {
  const std::string timeout = std::strerror(EAGAIN);
  struct Case {
    const char* name;
    Reply reply;
    std::string error;  // empty: success with an empty body
  } cases[] = {
      {"no content", {ombrel::test::http_response(204, "No Content", "")}, ""},
      {"server error",
       {"HTTP/1.1 500 Internal Server Error\r\n\r\n"},
       "HTTP/1.1 500 Internal Server Error"},
      {"closes without answering", {""}, "no response"},
      {"not UTF-8", {"HTTP/1.1 200 OK\r\n\r\n\xff"}, "stream did not contain valid UTF-8"},
      {"reset", {"HTTP/1.1 200", {}, {}, false, false, true}, std::strerror(ECONNRESET)},
      {"too large", {std::string((1 << 20) + 1, 'a')}, "response larger than 1048576 bytes"},
      {"keeps the connection open", {ombrel::test::json_ok("{}"), {}, {}, false, true}, timeout},
      {"trickles forever", {std::string(1000, 'a'), {}, std::chrono::milliseconds(20)}, timeout},
  };
  for (const auto& c : cases) {
    FakeServer server([&](const ombrel::test::Request&) { return c.reply; });
    auto r = post_json_direct(server.url() + "/tmux/lookup?x=1", "{\"a\":1}");
    EXPECT_EQ(r ? "" : r.error(), c.error) << c.name;
    ASSERT_EQ(server.requests().size(), 1u) << c.name;
    EXPECT_EQ(server.requests()[0].raw,
              "POST /tmux/lookup?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nContent-Type: application/json\r\nContent-Length: 7\r\nConnection: "
                  "close\r\n\r\n{\"a\":1}")
        << c.name;
  }
  auto refused =
      post_json_direct("http://127.0.0.1:" + std::to_string(ombrel::test::unused_port()), "{}");
  EXPECT_EQ(refused ? "" : refused.error(), std::strerror(ECONNREFUSED));
}

TEST(Http, UnderWslAFailedPostIsRetriedThroughWindowsCurl) {
  const std::string url = "http://127.0.0.1:" + std::to_string(ombrel::test::unused_port()) + "/x";
  const std::string refused = std::strerror(ECONNREFUSED);
  struct Case {
    const char* name;
    bool path_curl_works, drive_curl_works, post_starts;
    Captured post;
    std::string expected;  // the body, or the error after the direct one
    std::string program;
  } cases[] = {
      {"curl on PATH answers", true, false, true, exited(0, " {\"ok\":1}\n"), " {\"ok\":1}\n",
       "curl.exe"},
      {"only the drive copy works", false, true, true, exited(0, "{}"), "{}",
       "/mnt/c/Windows/System32/curl.exe"},
      {"no curl at all",
       false,
       false,
       true,
       {},
       "; curl.exe fallback: curl.exe not reachable from WSL",
       ""},
      {"curl fails", true, false, true, exited(22, "", "  curl: (22) error: 500\n"),
       "; curl.exe fallback: curl: (22) error: 500", "curl.exe"},
      {"curl vanishes",
       true,
       false,
       false,
       {},
       "; curl.exe fallback: spawn curl.exe: gone",
       "curl.exe"},
  };
  unsetenv("WSL_INTEROP");
  setenv("WSL_DISTRO_NAME", "Ubuntu", 1);
  for (const auto& c : cases) {
    FakeRunner runner([&](const Command& cmd) -> Result<Captured> {
      if (cmd.argv[1] == "--version") {
        return exited((cmd.argv[0] == "curl.exe" ? c.path_curl_works : c.drive_curl_works) ? 0 : 2);
      }
      if (!c.post_starts) return fail("gone");
      return c.post;
    });
    auto r = post_json(url, "{\"b\":2}", runner);
    EXPECT_EQ(r ? r.value() : r.error(), r ? c.expected : refused + c.expected) << c.name;
    if (c.program.empty()) continue;
    const Command& post = runner.commands.back();
    EXPECT_EQ(post.argv, (std::vector<std::string>{
                             c.program, "-sS", "--fail-with-body", "--max-time", "2", "-X", "POST",
                             "-H", "Content-Type: application/json", "--data-binary", "@-", url}))
        << c.name;
    EXPECT_EQ(post.input, "{\"b\":2}") << c.name;
  }
  unsetenv("WSL_DISTRO_NAME");
  FakeRunner unused([](const Command&) -> Result<Captured> { return fail("must not run"); });
  auto direct_only = post_json(url, "{}", unused);
  EXPECT_EQ(direct_only ? "" : direct_only.error(), refused);
  EXPECT_TRUE(unused.commands.empty());
}

}  // namespace
}  // namespace ombrel::launcher
