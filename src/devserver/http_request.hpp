// Reads one HTTP/1.1 request from the bytes of a connection, as they arrive, within fixed
// limits: the head (request line and header lines) and the body are bounded however the
// body is framed (Content-Length or chunked), so that a client can never make the server
// hold more than the limits say. Pure: it sees bytes, never a socket.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "routes.hpp"

namespace ombrel::devserver {

struct RequestLimits {
  std::size_t head_bytes = 32 * 1024;  // request line and header lines with their line breaks
  std::size_t target_bytes = 8 * 1024;
  std::size_t header_lines = 100;
  std::size_t body_bytes = 16 * 1024 * 1024;  // after chunked decoding
};

struct HttpRequest {
  std::string method;
  std::string path;  // the request target without its query, "/" for an absolute URL's root
  std::string body;
};

class RequestReader {
 public:
  enum class Progress { NeedMore, Complete, Refused };

  explicit RequestReader(RequestLimits limits = {}) : limits_(limits) {}

  // Takes the next bytes of the connection. Bytes after a complete request are ignored:
  // each connection carries one request.
  Progress feed(std::string_view bytes);
  // True once, right after the head of a request whose client waits for "100 Continue"
  // before it sends the body.
  bool take_continue();

  HttpRequest& request() { return request_; }
  const Refusal& refusal() const { return refusal_; }

 private:
  enum class Stage { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, Done };

  Progress refuse(int status, std::string message);
  Progress read_head(std::string_view& bytes);
  Progress parse_head();
  Progress parse_request_line(std::string_view line);
  Progress parse_header(std::string_view line);
  Progress read_body(std::string_view& bytes);
  Progress read_chunked(std::string_view& bytes);
  // A line of a chunked body (size line or trailer); false while it is incomplete.
  bool take_line(std::string_view& bytes, std::string& line, Progress& progress);

  RequestLimits limits_;
  Stage stage_ = Stage::Head;
  Progress progress_ = Progress::NeedMore;
  HttpRequest request_;
  Refusal refusal_;

  std::string head_;
  std::size_t lines_ = 0;
  std::size_t line_start_ = 0;

  bool has_length_ = false;
  bool chunked_ = false;
  bool expects_continue_ = false;
  std::size_t remaining_ = 0;  // of the body, or of the current chunk
  std::string chunk_line_;
  std::size_t trailer_bytes_ = 0;
};

}  // namespace ombrel::devserver
