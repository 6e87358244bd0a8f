#include "http.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

TEST(Http, ParseUrl) {
  struct Case {
    const char* url;
    std::string host;
    std::uint16_t port;
    std::string path;
    std::string error;  // empty: success
  };
  const Case cases[] = {
      {"http://127.0.0.1:7337", "127.0.0.1", 7337, "/", ""},
      {"http://127.0.0.1:7337/permission", "127.0.0.1", 7337, "/permission", ""},
      {"http://127.0.0.1/state", "127.0.0.1", 80, "/state", ""},
      {"http://h:+8/a?b#c", "h", 8, "/a?b#c", ""},
      {"http://:9/x", "", 9, "/x", ""},
      {"http://[::1]:9", "[::1]", 9, "/", ""},
      {"http://[::1]/state", "[::1]", 80, "/state", ""},
      {"http://127.0.0.1:7337//state", "127.0.0.1", 7337, "//state", ""},
      {"https://127.0.0.1:7337", "", 0, "", "only http:// URLs are supported"},
      {"HTTP://127.0.0.1", "", 0, "", "only http:// URLs are supported"},
      {"", "", 0, "", "only http:// URLs are supported"},
      {"http://127.0.0.1:/state", "", 0, "", "cannot parse integer from empty string"},
      {"http://127.0.0.1:70000", "", 0, "", "number too large to fit in target type"},
      {"http://127.0.0.1:+", "", 0, "", "invalid digit found in string"},
      {"http://127.0.0.1:-1", "", 0, "", "invalid digit found in string"},
      {"http://127.0.0.1:8o", "", 0, "", "invalid digit found in string"},
      {"http://127.0.0.1:99999x", "", 0, "", "number too large to fit in target type"},
      {"http://h:1/a\r\nX: 1", "", 0, "", "server URL holds a control character or a space"},
      {"http://h:1/a\x7f", "", 0, "", "server URL holds a control character or a space"},
      {"http://h:1/\xc2\x85", "", 0, "", "server URL holds a control character or a space"},
  };
  for (const auto& c : cases) {
    auto parsed = parse_url(c.url);
    if (!c.error.empty()) {
      ASSERT_FALSE(parsed.ok()) << c.url;
      EXPECT_EQ(parsed.error(), c.error) << c.url;
      continue;
    }
    ASSERT_TRUE(parsed.ok()) << c.url << ": " << parsed.error();
    EXPECT_EQ(parsed.value().host, c.host) << c.url;
    EXPECT_EQ(parsed.value().port, c.port) << c.url;
    EXPECT_EQ(parsed.value().path, c.path) << c.url;
  }
}

TEST(Http, RequestText) {
  ParsedUrl url{"127.0.0.1", 80, "/state"};
  EXPECT_EQ(request_text(url, 17),
            "POST /state HTTP/1.1\r\nHost: 127.0.0.1:80\r\nContent-Type: application/json\r\n"
            "Content-Length: 17\r\nConnection: close\r\n\r\n");
}

TEST(Http, StatusCode) {
  struct Case {
    const char* line;
    std::optional<std::uint16_t> want;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK", 200},
      {"HTTP/1.1   409\tConflict", 409},
      {"HTTP/1.0 +204", 204},
      {"garbage", std::nullopt},
      {"HTTP/1.1 2OO OK", std::nullopt},
      {"HTTP/1.1 70000", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(status_code(c.line), c.want) << c.line;
}

TEST(Http, DecodeChunkedBody) {
  struct Case {
    const char* name;
    std::string in;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"two chunks", "5\r\n{\"a\":\r\n2\r\n1}\r\n0\r\n\r\n", "{\"a\":1}"},
      {"extension ignored", "5;ext=1\r\nhello\r\n0\r\n", "hello"},
      {"size in upper-case hex with blanks", " A \r\n0123456789\r\n0\r\n", "0123456789"},
      {"plus sign", "+3\r\nabc\r\n0\r\n", "abc"},
      {"trailers ignored", "1\r\nx\r\n0\r\nX-T: 1\r\n\r\n", "x"},
      {"bytes after data not checked", "1\r\nxYZ0\r\n", "x"},
      {"empty body", "0\r\n", ""},
      {"bad size", "zz\r\nabc\r\n0\r\n", std::nullopt},
      {"lone plus", "+\r\n", std::nullopt},
      {"minus", "-1\r\nx\r\n", std::nullopt},
      {"empty size", "\r\nx\r\n", std::nullopt},
      {"missing final chunk", "1\r\nx\r\n", std::nullopt},
      {"no size line end", "5", std::nullopt},
      {"chunk shorter than its size", "9\r\nabc\r\n0\r\n", std::nullopt},
      {"size with no room for CRLF", "3\r\nabc", std::nullopt},
      {"largest 64-bit size", "ffffffffffffffff\r\nabc\r\n", std::nullopt},
      {"size above 64 bits", "10000000000000000\r\nabc\r\n", std::nullopt},
      {"size ending inside a character", "1\r\n\xC3\xA9\r\n0\r\n", std::nullopt},
      {"skip landing inside a character", "1\r\na\xE2\x82\xAC\r\n0\r\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_chunked_body(c.in), c.want) << c.name;
}

TEST(Http, InterpretResponse) {
  struct Case {
    const char* name;
    std::string response;
    std::string want;  // the JSON text of the result, or the error text
    bool ok;
  };
  const std::string long_body(600, 'e');
  const Case cases[] = {
      {"no content", "HTTP/1.1 204 No Content\r\n\r\n", "{}", true},
      {"json body", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n {\"b\":1,\"a\":2} ", R"({"a":2,"b":1})", true},
      {"not json", "HTTP/1.1 200 OK\r\n\r\nnot json", "{}", true},
      {"conflict", "HTTP/1.1 409 Conflict\r\n\r\n  busy \n", "HTTP 409: busy", false},
      {"error without body", "HTTP/1.1 500 Internal Server Error\r\n\r\n", "HTTP 500", false},
      {"error body cut to 500 characters", "HTTP/1.1 502 Bad\r\n\r\n" + long_body,
       "HTTP 502: " + long_body.substr(0, 500), false},
      {"no header end", "HTTP/1.1 500 Oops\r\n", "{}", true},
      {"garbage status line", "garbage\r\n\r\n{\"ok\":true}", R"({"ok":true})", true},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":\r\n2\r\n1}\r\n0\r\n\r\n",
       R"({"a":1})", true},
      {"chunked header any case",
       "HTTP/1.1 200 OK\r\ntransfer-ENCODING: Chunked\r\n\r\n2\r\n{}\r\n0\r\n", "{}", true},
      {"malformed chunks parsed as they came",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}", "{}", true},
      {"chunked error body",
       "HTTP/1.1 403 No\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nnope\r\n0\r\n", "HTTP 403: nope",
       false},
      {"body nested too deep", "HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, '['), "{}", true},
      {"array body kept", "HTTP/1.1 200 OK\r\n\r\n[1]", "[1]", true},
      {"NUL after the body's JSON: no decision",
       std::string("HTTP/1.1 200 OK\r\n\r\n"
                   "{\"hookSpecificOutput\":{\"decision\":{\"behavior\":\"deny\"}}}\0x",
                   76),
       "{}", true},
      {"empty response", "", "{}", true},
      {"interim answers skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: 1\r\n\r\n"
       "HTTP/1.1 200 OK\r\n\r\n{\"a\":1}",
       R"({"a":1})", true},
      {"101 is no interim answer", "HTTP/1.1 101 Switching Protocols\r\n\r\n", "HTTP 101", false},
  };
  for (const auto& c : cases) {
    auto result = interpret_response(c.response);
    ASSERT_EQ(result.ok(), c.ok) << c.name;
    EXPECT_EQ(c.ok ? to_json_text(result.value()) : result.error(), c.want) << c.name;
  }
}

}  // namespace
}  // namespace ombrel::hook
