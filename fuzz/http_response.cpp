// The desktop's answer as the hook reads it: the chunked decoder on any bytes, the response
// parser on any UTF-8 text (the client refuses everything else before parsing), and the
// input re-sent as a chunked body cut in pieces the input itself chooses.
#include <cstdint>
#include <string>

#include "fuzz_check.hpp"
#include "http.hpp"
#include "text.hpp"

namespace ombrel::fuzz {
namespace {

namespace text = hook::text;

bool is_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

void check_decoder(std::string_view bytes) {
  auto decoded = hook::decode_chunked_body(bytes);
  if (!decoded) return;
  check(decoded->size() <= bytes.size(), "a decoded body is never longer than its encoding");
  if (utf8::is_valid(bytes)) {
    // Chunks cut inside a character are refused, so UTF-8 stays UTF-8.
    check(utf8::is_valid(*decoded), "decoding keeps UTF-8 whole", *decoded);
  }
}

void check_response(std::string_view response) {
  auto result = hook::interpret_response(response);
  if (result) {
    check_round_trip(result.value(), "the parsed answer");
    if (response.find("\r\n\r\n") == std::string_view::npos) {
      check(result.value() == Json::object(), "no header block: an empty object");
    }
    return;
  }
  // "HTTP {status}" with an optional ": {text}", the text trimmed and at most 500 characters.
  const std::string& error = result.error();
  check(error.rfind("HTTP ", 0) == 0, "a failed answer names its status", error);
  const std::string_view rest = std::string_view(error).substr(5);
  const std::size_t colon = rest.find(": ");
  const std::string_view code = rest.substr(0, colon);
  check(is_digits(code) && code.size() <= 5, "the status is a number", error);
  const unsigned long value = std::stoul(std::string(code));
  check(value <= 65535 && (value < 200 || value > 299), "only a non-2xx status fails", error);
  if (colon != std::string::npos) {
    const std::string_view shown = rest.substr(colon + 2);
    // Trimmed, then cut: the cut may well end on white space.
    check(!shown.empty() && utf8::trim_start(shown).size() == shown.size(),
          "the shown body is trimmed", error);
    check(text::char_count(shown) <= 500, "the shown body is cut to 500 characters", error);
    check(utf8::is_valid(shown), "the shown body is UTF-8", error);
  }
}

// Writes the text as a chunked body, in chunks whose sizes and spelling the text's own bytes
// pick, and checks that the decoder and the response parser give the text back.
void check_chunked_round_trip(std::string_view body) {
  static constexpr const char* kSpellings[] = {"%zx",       "%zX",    "+%zx",   " %zx ",
                                               "%zx;ext=1", "000%zx", "%zx ;a", "\t%zX"};
  std::string encoded;
  std::size_t pos = 0;
  std::size_t i = 0;
  while (pos < body.size()) {
    const auto pick = static_cast<unsigned char>(body[i++ % body.size()]);
    std::size_t n = std::min<std::size_t>(pick % 13 + 1, body.size() - pos);
    while (!utf8::is_char_boundary(body, pos + n)) ++n;  // never inside a character
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, kSpellings[pick % 8], n);
    encoded.append(size_line).append("\r\n").append(body.substr(pos, n)).append("\r\n");
    pos += n;
  }
  encoded.append("0\r\n\r\n");

  auto decoded = hook::decode_chunked_body(encoded);
  check(decoded.has_value(), "a well-formed chunked body decodes", encoded);
  check(*decoded == body, "chunks decode to the text they carry", encoded);

  const std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + encoded;
  auto result = hook::interpret_response(response);
  check(result.ok(), "a 200 answer never fails", response);
  std::string_view trimmed = utf8::trim(body);
  auto direct = hook::parse_json(trimmed);
  const Json want = trimmed.empty() || !direct ? Json::object() : direct.value();
  check(result.value() == want, "a chunked answer reads like the plain one", response);
}

}  // namespace
}  // namespace ombrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrel::fuzz;
  const std::string_view bytes = as_text(data, size);
  check_decoder(bytes);
  if (!ombrel::utf8::is_valid(bytes)) return 0;
  check_response(bytes);
  if (!bytes.empty()) check_chunked_round_trip(bytes);
  return 0;
}
