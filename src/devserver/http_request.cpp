#include "http_request.hpp"

#include <array>
#include <charconv>

#include "common/ascii.hpp"

namespace ombrel::devserver {

namespace {

constexpr std::array<std::string_view, 9> kMethods = {
    "GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"};

bool is_token_char(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool is_token(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!is_token_char(c)) return false;
  }
  return true;
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A line without its line break: "\r\n" or a bare "\n".
std::string_view without_break(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

template <class Number>
bool parse_digits(std::string_view text, Number& value, int base) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

RequestReader::Progress RequestReader::refuse(int status, std::string message) {
  refusal_ = Refusal{status, std::move(message)};
  stage_ = Stage::Done;
  return progress_ = Progress::Refused;
}

RequestReader::Progress RequestReader::feed(std::string_view bytes) {
  if (stage_ == Stage::Head) progress_ = read_head(bytes);
  if (progress_ != Progress::NeedMore || stage_ == Stage::Head) return progress_;
  progress_ = chunked_ ? read_chunked(bytes) : read_body(bytes);
  return progress_;
}

bool RequestReader::take_continue() {
  const bool wanted = expects_continue_ && stage_ != Stage::Head && stage_ != Stage::Done;
  expects_continue_ = false;
  return wanted;
}

RequestReader::Progress RequestReader::read_head(std::string_view& bytes) {
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const std::size_t taken = newline == std::string_view::npos ? bytes.size() : newline + 1;
    head_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (lines_ == 0 && head_.size() > limits_.target_bytes + 16) {
      return refuse(414, "the request target is too long");
    }
    if (head_.size() > limits_.head_bytes) return refuse(431, "the request head is too large");
    if (newline == std::string_view::npos) return Progress::NeedMore;

    const std::string_view line = without_break(std::string_view(head_).substr(line_start_));
    if (line.empty() && lines_ == 0) {
      head_.clear();  // blank lines before a request are allowed and mean nothing
      continue;
    }
    if (line.empty()) return parse_head();
    if (++lines_ > limits_.header_lines + 1) return refuse(431, "too many header lines");
    line_start_ = head_.size();
  }
  return Progress::NeedMore;
}

RequestReader::Progress RequestReader::parse_head() {
  std::string_view head = head_;
  bool first = true;
  while (!head.empty()) {
    const std::size_t newline = head.find('\n');
    const std::string_view line = without_break(head.substr(0, newline + 1));
    head.remove_prefix(newline + 1);
    if (line.empty()) break;
    Progress parsed = first ? parse_request_line(line) : parse_header(line);
    if (parsed == Progress::Refused) return parsed;
    first = false;
  }
  head_.clear();
  head_.shrink_to_fit();
  if (has_length_ && chunked_) {
    return refuse(400, "a request cannot have both Content-Length and Transfer-Encoding");
  }
  if (chunked_) {
    stage_ = Stage::ChunkSize;
    return Progress::NeedMore;
  }
  stage_ = Stage::Body;
  if (remaining_ == 0) {
    stage_ = Stage::Done;
    return Progress::Complete;
  }
  return Progress::NeedMore;
}

RequestReader::Progress RequestReader::parse_request_line(std::string_view line) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) {
    return refuse(400, "malformed HTTP request");
  }
  const std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  bool known = false;
  for (std::string_view name : kMethods) known = known || name == method;
  if (!known) return refuse(400, "malformed HTTP request");
  if (version.rfind("HTTP/", 0) != 0) return refuse(400, "malformed HTTP request");
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    return refuse(505, "only HTTP/1.0 and HTTP/1.1 are spoken here");
  }
  if (ascii::iequals(target.substr(0, 7), "http://")) {
    const std::size_t path = target.find('/', 7);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  if (target.empty() || target.front() != '/') return refuse(400, "malformed HTTP request");
  request_.method = std::string(method);
  request_.path = std::string(target.substr(0, target.find_first_of("?#")));
  return Progress::NeedMore;
}

RequestReader::Progress RequestReader::parse_header(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) {
    return refuse(400, "malformed header line");
  }
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = trim_blanks(line.substr(colon + 1));
  for (unsigned char c : value) {
    if ((c < 0x20 && c != '\t') || c == 0x7f) return refuse(400, "malformed header line");
  }
  if (ascii::iequals(name, "Content-Length")) {
    std::size_t length = 0;
    if (!parse_digits(value, length, 10)) return refuse(400, "malformed Content-Length");
    if (has_length_ && length != remaining_) return refuse(400, "conflicting Content-Length");
    if (length > limits_.body_bytes) return refuse(413, "the body is too large");
    has_length_ = true;
    remaining_ = length;
  } else if (ascii::iequals(name, "Transfer-Encoding")) {
    if (!ascii::iequals(value, "chunked") || chunked_) {
      return refuse(501, "only the chunked transfer coding is understood");
    }
    chunked_ = true;
  } else if (ascii::iequals(name, "Expect")) {
    if (!ascii::iequals(value, "100-continue")) return refuse(417, "unknown expectation");
    expects_continue_ = true;
  }
  return Progress::NeedMore;
}

RequestReader::Progress RequestReader::read_body(std::string_view& bytes) {
  const std::size_t taken = std::min(bytes.size(), remaining_);
  request_.body.append(bytes.substr(0, taken));
  bytes.remove_prefix(taken);
  remaining_ -= taken;
  if (remaining_ > 0) return Progress::NeedMore;
  stage_ = Stage::Done;
  return Progress::Complete;
}

bool RequestReader::take_line(std::string_view& bytes, std::string& line, Progress& progress) {
  constexpr std::size_t kMaxChunkLine = 4096;  // a size with its extensions
  const std::size_t newline = bytes.find('\n');
  const std::size_t taken = newline == std::string_view::npos ? bytes.size() : newline + 1;
  line.append(bytes.substr(0, taken));
  bytes.remove_prefix(taken);
  if (line.size() > kMaxChunkLine) {
    progress = refuse(400, "malformed chunked body");
    return false;
  }
  return newline != std::string_view::npos;
}

RequestReader::Progress RequestReader::read_chunked(std::string_view& bytes) {
  Progress progress = Progress::NeedMore;
  while (!bytes.empty()) {
    switch (stage_) {
      case Stage::ChunkSize: {
        if (!take_line(bytes, chunk_line_, progress)) return progress;
        std::string_view size = without_break(chunk_line_);
        size = trim_blanks(size.substr(0, size.find(';')));
        std::size_t chunk = 0;
        if (!parse_digits(size, chunk, 16)) return refuse(400, "malformed chunked body");
        if (chunk > limits_.body_bytes - request_.body.size()) {
          return refuse(413, "the body is too large");
        }
        chunk_line_.clear();
        remaining_ = chunk;
        stage_ = chunk == 0 ? Stage::Trailers : Stage::ChunkData;
        break;
      }
      case Stage::ChunkData: {
        const std::size_t taken = std::min(bytes.size(), remaining_);
        request_.body.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        remaining_ -= taken;
        if (remaining_ == 0) stage_ = Stage::ChunkEnd;
        break;
      }
      case Stage::ChunkEnd:
        if (!take_line(bytes, chunk_line_, progress)) return progress;
        if (!without_break(chunk_line_).empty()) return refuse(400, "malformed chunked body");
        chunk_line_.clear();
        stage_ = Stage::ChunkSize;
        break;
      case Stage::Trailers: {
        // Trailer lines are read and dropped, under the same bounds as the head.
        if (!take_line(bytes, chunk_line_, progress)) return progress;
        trailer_bytes_ += chunk_line_.size();
        const bool last = without_break(chunk_line_).empty();
        chunk_line_.clear();
        if (last) {
          stage_ = Stage::Done;
          return Progress::Complete;
        }
        if (trailer_bytes_ > limits_.head_bytes || ++lines_ > limits_.header_lines + 1) {
          return refuse(431, "too many trailer lines");
        }
        break;
      }
      default:
        return Progress::NeedMore;
    }
  }
  return progress;
}

}  // namespace ombrel::devserver
