#include "http_request.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

using Progress = RequestReader::Progress;

struct Fed {
  Progress progress;
  RequestReader reader;
};

// Feeds the bytes in pieces of the given size, as a connection may deliver them.
Fed feed(const std::string& bytes, std::size_t piece, RequestLimits limits = {}) {
  Fed fed{Progress::NeedMore, RequestReader(limits)};
  for (std::size_t at = 0; at < bytes.size() && fed.progress == Progress::NeedMore; at += piece) {
    fed.progress = fed.reader.feed(std::string_view(bytes).substr(at, piece));
  }
  return fed;
}

TEST(RequestReader, ReadsEachFramingWhole) {
  const std::pair<std::string, std::string> cases[] = {
      {"POST /state HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", "{}"},
      {"\r\nPOST /state?x=1 HTTP/1.0\ncontent-length:3 \n\n{}\nnext request", "{}\n"},
      {"POST /state HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n"
       "2;ext=1\r\n{\"\r\nB\r\na\":1234567}\r\n0\r\nTrailer: x\r\n\r\n",
       "{\"a\":1234567}"},
      {"GET http://host:7337 HTTP/1.1\r\n\r\n", ""},
  };
  for (const auto& [bytes, body] : cases) {
    for (std::size_t piece : {std::size_t{1}, bytes.size()}) {
      Fed fed = feed(bytes, piece);
      ASSERT_EQ(fed.progress, Progress::Complete) << bytes << " in pieces of " << piece;
      EXPECT_EQ(fed.reader.request().body, body);
      EXPECT_EQ(fed.reader.request().path, fed.reader.request().method == "GET" ? "/" : "/state");
    }
  }
}

TEST(RequestReader, RefusesWhatIsTooLargeOrMalformed) {
  const RequestLimits small{200, 40, 3, 10};
  const std::string post = "POST /state HTTP/1.1\r\n";
  const std::tuple<std::string, int, const char*> cases[] = {
      {post + "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", 431, "too many header lines"},
      {post + "A: " + std::string(200, 'a'), 431, "head is too large"},
      {"POST /" + std::string(60, 'a'), 414, "target is too long"},
      {post + "Content-Length: 11\r\n\r\n", 413, "too large"},
      {post + "Transfer-Encoding: chunked\r\n\r\n5\r\n12345\r\n6\r\n", 413, "too large"},
      {post + "Transfer-Encoding: chunked\r\n\r\n" + std::string(5000, '0'), 400, "chunked"},
      {post + "Transfer-Encoding: chunked\r\n\r\n0\r\nT: 1\r\nU: 2\r\nV: 3\r\n", 431, "trailer"},
      {post + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n", 400, "chunked"},
      {post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", 400, "chunked"},
      {post + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", 400, "conflicting"},
      {post + "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", 400, "both"},
      {post + "Content-Length: -1\r\n\r\n", 400, "Content-Length"},
      {post + "Transfer-Encoding: gzip\r\n\r\n", 501, "chunked"},
      {post + " folded: x\r\n\r\n", 400, "header line"},
      {"BREW /state HTTP/1.1\r\n\r\n", 400, "malformed"},
      {"POST /state HTTP/2.0\r\n\r\n", 505, "HTTP/1"},
      {"POST state HTTP/1.1\r\n\r\n", 400, "malformed"},
  };
  for (const auto& [bytes, status, message] : cases) {
    Fed fed = feed(bytes, 7, small);
    ASSERT_EQ(fed.progress, Progress::Refused) << bytes;
    EXPECT_EQ(fed.reader.refusal().status, status) << bytes;
    EXPECT_NE(fed.reader.refusal().message.find(message), std::string::npos)
        << fed.reader.refusal().message;
  }
}

TEST(RequestReader, AsksForTheBodyOnlyWhenOneIsAwaited) {
  RequestReader waiting;
  EXPECT_EQ(waiting.feed("POST /p HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n"),
            Progress::NeedMore);
  EXPECT_TRUE(waiting.take_continue());
  EXPECT_FALSE(waiting.take_continue());
  EXPECT_EQ(waiting.feed("{}"), Progress::Complete);

  RequestReader empty;
  EXPECT_EQ(empty.feed("POST /p HTTP/1.1\r\nExpect: 100-continue\r\n\r\n"), Progress::Complete);
  EXPECT_FALSE(empty.take_continue());
}

}  // namespace
}  // namespace ombrel::devserver
