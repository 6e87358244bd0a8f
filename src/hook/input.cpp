#include "input.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "byte_scan.hpp"
#include "text.hpp"

namespace ombrel::hook {
namespace {

bool is_noise(char32_t c) {
  return c == 0x0000 || c == 0xFEFF || c == 0xFFFD;
}

bool starts_with_bracket(std::string_view s) {
  return !s.empty() && (s[0] == '{' || s[0] == '[');
}

}  // namespace

Result<std::string> read_all(int fd) {
  std::string data;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    data.reserve(static_cast<std::size_t>(st.st_size));
  }
  // Appending from a small buffer touches only the bytes that arrive, never a zero-filled
  // reserve: memory use follows the payload's size.
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno));
    }
    if (n == 0) break;
    data.append(chunk, static_cast<std::size_t>(n));
  }
  if (!scan::is_valid_utf8(data)) return fail("stream did not contain valid UTF-8");
  return data;
}

Result<std::string> read_stdin() {
  return read_all(STDIN_FILENO);
}

std::string_view clean_input(std::string_view raw) {
  std::string_view s = utf8::trim(raw);
  // Drop leading noise characters, and a "?" that stands just before the JSON.
  while (!s.empty()) {
    utf8::Decoded d = utf8::decode(s, 0);
    if (is_noise(d.cp) && !(d.cp == utf8::kReplacement && d.len == 1)) {
      s = utf8::trim_start(s.substr(d.len));
    } else if (s[0] == '?' && starts_with_bracket(utf8::trim_start(s.substr(1)))) {
      s = utf8::trim_start(s.substr(1));
    } else {
      break;
    }
  }
  // Anything else before the first bracket must be noise too, or the text stays as it is.
  std::size_t bracket = s.find_first_of("{[");
  if (bracket == std::string_view::npos) return s;
  for (std::size_t i = 0; i < bracket;) {
    utf8::Decoded d = utf8::decode(s, i);
    if (!utf8::is_white_space(d.cp) && d.cp != '?' && !is_noise(d.cp)) return s;
    i += d.len;
  }
  return utf8::trim(s.substr(bracket));
}

}  // namespace ombrel::hook
