#include "bridge.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fake_runner.hpp"
#include "fake_server.hpp"

namespace ombrel::launcher {
namespace {

using ombrel::test::Reply;
using Opt = std::optional<std::string_view>;
using Strings = std::vector<std::string>;

// clang-format off
TEST(Wsl, WslenvGainsExactlyOneWritableSessionEntry) {
  struct { Opt in; std::string out; } cases[] = {
      {std::nullopt, "OM_TMUX_SESSION/w"}, {":::", "OM_TMUX_SESSION/w"},
      {"PATH/l:FOO", "PATH/l:FOO:OM_TMUX_SESSION/w"},
      {"OM_TMUX_SESSION/u::FOO/p", "FOO/p:OM_TMUX_SESSION/w"},
      {"OM_TMUX_SESSION:OM_TMUX_SESSIONS/p", "OM_TMUX_SESSIONS/p:OM_TMUX_SESSION/w"}};
  for (const auto& c : cases) EXPECT_EQ(wslenv_with_om_tmux_session(c.in), c.out) << *c.in;
}

TEST(Wsl, WindowsDrivePathsAndCodexHome) {
  struct { std::string path; bool interop; } paths[] = {
      {"/mnt/c/Users/me/bin/codex", true}, {"\\mnt\\d\\tools\\codex.exe", true}, {"/mnt/D/x", true},
      {"/mnt/c/", false}, {"/mnt/cc/x", false}, {"/mnt/1/xx", false}, {"/usr/bin/codex", false}};
  for (const auto& c : paths) EXPECT_EQ(is_wsl_windows_interop_path(c.path), c.interop) << c.path;

  struct { Opt home, codex_home; std::optional<std::string> out; } homes[] = {
      {"/h", std::nullopt, "/h/.codex"}, {"/h", "D:/codex", "/h/.codex"},
      {"/h", "d:\\Users\\me\\.codex", "/h/.codex"}, {"/h", "/opt/codex", std::nullopt},
      {"/h", "D:", std::nullopt}, {"/h", "1:/x", std::nullopt}, {"/h", "", std::nullopt},
      {std::nullopt, "D:/codex", std::nullopt}};
  for (const auto& c : homes) EXPECT_EQ(wsl_codex_home(c.home, c.codex_home), c.out) << *c.codex_home;
}

TEST(Http, ParsesServerUrls) {
  struct { std::string url, host; int port; std::string path; } cases[] = {  // port -1: an error
      {"http://127.0.0.1:7337//tmux/register", "127.0.0.1", 7337, "//tmux/register"},
      {"http://127.0.0.1/tmux/register", "127.0.0.1", 80, "/tmux/register"},
      {"http://h:1", "h", 1, "/"}, {"http://h:1/p?q=a:b#f", "h", 1, "/p?q=a:b#f"},
      {"http://[::1]:8080/x", "[::1]", 8080, "/x"},
      {"https://h/x", "", -1, "only http:// URLs supported"},
      {"HTTP://h/x", "", -1, "only http:// URLs supported"},
      {"http://h:/x", "", -1, "cannot parse a number from empty text"},
      {"http://h:99999/", "", -1, "number \"99999\" too large (at most 65535)"},
      // Nothing may reach the request head that ends its line or starts a header.
      {"http://h:1/x\r\nX-Planted: 1", "", -1, "server URL holds a control character or a space"},
      {"http://h:1/a b", "", -1, "server URL holds a control character or a space"}};
  for (const auto& c : cases) {
    auto r = parse_http_url(c.url);
    EXPECT_EQ(r ? r.value().host + " " + std::to_string(r.value().port) + " " + r.value().path
                : r.error(), c.port < 0 ? c.path : c.host + " " + std::to_string(c.port) + " " + c.path);
  }
}

TEST(Http, OnlyTwoHundredsSucceedAndBodiesAreNotDecoded) {
  struct { std::string response; bool ok; std::string text; } cases[] = {  // text: body or error
      {"HTTP/1.1 204 No Content\r\n\r\n", true, ""},
      {"HTTP/1.1 200 OK\r\n\r\n5\r\nhello\r\n0\r\n\r\n", true, "5\r\nhello\r\n0\r\n\r\n"},
      {"HTTP/1.1 299 Fine", true, ""},
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n{}", false, "HTTP/1.1 500 Internal Server Error"},
      {"HTTP/1.1 300 Multiple\n\n", false, "HTTP/1.1 300 Multiple"},
      {"HTTP/1.1 abc OK\r\n\r\n", false, "HTTP/1.1 abc OK"},
      {"HTTP/1.1\r\n\r\n", false, "HTTP/1.1"}, {"", false, "no response"}};
  for (const auto& c : cases) {
    auto r = response_body(c.response);
    EXPECT_EQ(r.ok(), c.ok) << c.response;
    EXPECT_EQ(r ? r.value() : r.error(), c.text) << c.response;
  }
}

TEST(Http, DirectPostSurvivesMisbehavingServers) {
  using ombrel::test::json_ok;
  const std::string timeout = std::strerror(EAGAIN);
  struct { Reply reply; std::string error; } cases[] = {  // error empty: success
      {{ombrel::test::http_response(204, "No Content", "")}, ""},
      {{""}, "no response"},
      {{"HTTP/1.1 200 OK\r\n\r\n\xff"}, "stream did not contain valid UTF-8"},
      {{"HTTP/1.1 200", {}, {}, false, false, true}, std::strerror(ECONNRESET)},
      {{std::string((1 << 20) + 1, 'a')}, "response larger than 1048576 bytes"},
      {{json_ok("{}"), {}, {}, false, true}, timeout},  // answers but never closes
      {{std::string(1000, 'a'), {}, std::chrono::milliseconds(20)}, timeout}};  // trickles on
  for (const auto& c : cases) {
    ombrel::test::FakeServer server([&](const ombrel::test::Request&) { return c.reply; });
    auto r = post_json_direct(server.url() + "/tmux/lookup?x=1", "{\"a\":1}");
    EXPECT_EQ(r ? "" : r.error(), c.error);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].raw, "POST /tmux/lookup?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" +
              std::to_string(server.port()) + "\r\nContent-Type: application/json\r\n"
              "Content-Length: 7\r\nConnection: close\r\n\r\n{\"a\":1}");
  }
}

TEST(Http, UnderWslAFailedPostIsRetriedOnceThroughWindowsCurl) {
  const std::string url = "http://127.0.0.1:" + std::to_string(ombrel::test::unused_port());
  const std::string drive = "/mnt/c/Windows/System32/curl.exe", refused = std::strerror(ECONNREFUSED);
  struct { bool path_curl, drive_curl, starts; std::string result; } cases[] = {
      {false, true, true, "{\"ok\":1}\n"},  // success: curl's output, untrimmed
      {false, false, true, refused + "; curl.exe fallback: curl.exe not reachable from WSL"},
      {true, false, true, refused + "; curl.exe fallback: curl: (22) error: 500"},
      {true, false, false, refused + "; curl.exe fallback: spawn curl.exe: gone"}};
  unsetenv("WSL_INTEROP");
  setenv("WSL_DISTRO_NAME", "", 1);
  for (const auto& c : cases) {
    test::FakeRunner runner([&](const Command& cmd) -> Result<Captured> {
      if (cmd.argv[1] == "--version") return test::exited(cmd.argv[0] == drive ? !c.drive_curl : !c.path_curl);
      if (!c.starts) return fail("gone");
      return c.drive_curl ? test::exited(0, "{\"ok\":1}\n") : test::exited(22, "{}", " curl: (22) error: 500\n");
    });
    auto r = post_json(url, "{\"b\":2}", runner);
    EXPECT_EQ(r ? r.value() : r.error(), c.result);
    if (!c.path_curl && !c.drive_curl) continue;
    EXPECT_EQ(runner.commands.back().argv, (Strings{c.path_curl ? "curl.exe" : drive, "-sS",
              "--fail-with-body", "--max-time", "2", "-X", "POST", "-H",
              "Content-Type: application/json", "--data-binary", "@-", url}));
    EXPECT_EQ(runner.commands.back().input, "{\"b\":2}");
  }
  unsetenv("WSL_DISTRO_NAME");
  test::FakeRunner unused([](const Command&) -> Result<Captured> { return fail("ran"); });
  auto direct_only = post_json(url, "{}", unused);
  EXPECT_EQ(direct_only ? "" : direct_only.error(), refused);
  EXPECT_TRUE(unused.commands.empty());
}
// clang-format on

}  // namespace
}  // namespace ombrel::launcher
