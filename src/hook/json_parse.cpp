// The JSON reader behind parse_json and parse_json_prefix. It accepts what nlohmann::json's
// own parser accepts (strict UTF-8, paired surrogates, no number that overflows a double, an
// optional leading byte-order mark), but builds each string once, in place: payloads of
// several megabytes are read at memory speed and held once, not three times. One difference
// on purpose: nlohmann's lexer takes a NUL byte for the end of the input, so it reads
// `{"a":1}` followed by a NUL and anything at all as one whole document. A NUL is no JSON
// white space, so here it is just an unexpected byte, and a whole document holding one fails.
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "byte_scan.hpp"
#include "json_text.hpp"

namespace ombrel::hook {
namespace {

// What each one-letter escape stands for, by the letter after the backslash; 0 for none.
constexpr auto kSimpleEscapes = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['b'] = '\b';
  table['f'] = '\f';
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  return table;
}();

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text), n_(text.size()) {}

  Result<Json> parse(bool strict, bool known_utf8 = false);

 private:
  struct Frame {
    Json* node;
    bool object;
  };

  bool at_end() const { return pos_ >= n_; }
  unsigned char peek() const { return static_cast<unsigned char>(s_[pos_]); }
  void skip_white_space() {
    while (pos_ < n_) {
      const char c = s_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }
  bool reject(const char* what) {
    if (error_.empty()) error_ = "invalid JSON at byte " + std::to_string(pos_) + ": " + what;
    return false;
  }

  bool parse_value();
  bool parse_key();
  bool open(Json value, bool object);
  Json* place(Json value);
  bool after_value();
  bool parse_string(std::string& out) {
    return utf8_checked_ ? parse_string<false>(out) : parse_string<true>(out);
  }
  template <bool kCheckUtf8>
  bool parse_string(std::string& out);
  bool parse_escape(char*& w);
  bool parse_unicode_escape(char*& w);
  bool parse_number();
  bool parse_literal(std::string_view word, Json value);

  std::string_view s_;
  std::size_t n_;
  std::size_t pos_ = 0;
  Json root_;
  std::vector<Frame> stack_;
  std::string key_;
  bool done_ = false;
  bool utf8_checked_ = false;
  std::string error_;
};

Result<Json> Parser::parse(bool strict, bool known_utf8) {
  // A byte-order mark may open the text, as nlohmann's reader allows.
  if (n_ >= 3 && s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  // A whole document is UTF-8 throughout (outside its strings it is ASCII), so one quick
  // pass over all of it stands in for checking each string; a first value may be followed
  // by anything, so there each string is checked as it is read.
  if (strict) {
    if (!known_utf8 && !scan::is_valid_utf8(s_)) {
      return ombrel::fail("invalid JSON: the text is not UTF-8");
    }
    utf8_checked_ = true;
  }
  bool ok = parse_value();
  while (ok && !done_) ok = after_value();
  if (ok && strict) {
    skip_white_space();
    if (!at_end()) ok = reject("unexpected text after the value");
  }
  if (!ok) return ombrel::fail(error_);
  return std::move(root_);
}

Json* Parser::place(Json value) {
  if (stack_.empty()) {
    root_ = std::move(value);
    return &root_;
  }
  Frame& top = stack_.back();
  if (!top.object) {
    auto& array = top.node->get_ref<Json::array_t&>();
    array.push_back(std::move(value));
    return &array.back();
  }
  auto& object = top.node->get_ref<Json::object_t&>();
  auto [it, inserted] = object.insert_or_assign(std::move(key_), std::move(value));
  key_.clear();
  return &it->second;
}

// Places a new container and descends into it; an empty one is closed at once.
bool Parser::open(Json value, bool object) {
  if (stack_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) {
    error_ = "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return false;
  }
  Json* node = place(std::move(value));
  stack_.push_back({node, object});
  ++pos_;
  skip_white_space();
  if (!at_end() && peek() == (object ? '}' : ']')) {
    ++pos_;
    stack_.pop_back();
    done_ = stack_.empty();
    return true;
  }
  if (object) return parse_key() && parse_value();
  return parse_value();
}

bool Parser::parse_key() {
  skip_white_space();
  if (at_end() || peek() != '"') return reject("expected a member name");
  if (!parse_string(key_)) return false;
  skip_white_space();
  if (at_end() || peek() != ':') return reject("expected ':'");
  ++pos_;
  return true;
}

// One value; a container is entered, and closes later in after_value.
bool Parser::parse_value() {
  skip_white_space();
  if (at_end()) return reject("unexpected end of input");
  done_ = false;
  switch (peek()) {
    case '{':
      return open(Json::object(), true);
    case '[':
      return open(Json::array(), false);
    case '"': {
      std::string text;
      if (!parse_string(text)) return false;
      place(std::move(text));
      break;
    }
    case 't':
      if (!parse_literal("true", true)) return false;
      break;
    case 'f':
      if (!parse_literal("false", false)) return false;
      break;
    case 'n':
      if (!parse_literal("null", nullptr)) return false;
      break;
    default:
      if (!parse_number()) return false;
  }
  done_ = stack_.empty();
  return true;
}

// After a value inside a container: a separator and the next value, or the closing bracket.
bool Parser::after_value() {
  skip_white_space();
  if (at_end()) return reject("unexpected end of input");
  const Frame& top = stack_.back();
  const char c = static_cast<char>(peek());
  if (c == ',') {
    ++pos_;
    if (top.object && !parse_key()) return false;
    return parse_value();
  }
  if (c == (top.object ? '}' : ']')) {
    ++pos_;
    stack_.pop_back();
    done_ = stack_.empty();
    return true;
  }
  return reject(top.object ? "expected ',' or '}'" : "expected ',' or ']'");
}

bool Parser::parse_literal(std::string_view word, Json value) {
  if (s_.substr(pos_, word.size()) != word) return reject("invalid literal");
  pos_ += word.size();
  place(std::move(value));
  return true;
}

template <bool kCheckUtf8>
bool Parser::parse_string(std::string& out) {
  // Escapes only ever shrink the text, so the distance to the closing quote bounds the
  // decoded size: the string is sized once and written in place, with no copies while it
  // grows and no capacity checks per byte.
  std::size_t end = pos_ + 1;
  for (;;) {
    const void* q = std::memchr(s_.data() + end, '"', n_ - end);
    if (q == nullptr) {
      end = n_;
      break;
    }
    end = static_cast<std::size_t>(static_cast<const char*>(q) - s_.data());
    std::size_t slashes = 0;
    while (end - slashes > pos_ + 1 && s_[end - slashes - 1] == '\\') ++slashes;
    if (slashes % 2 == 0) break;
    ++end;
  }
  // The scan never passes `end`: an escape that starts before it also ends before it (its
  // backslashes were counted above, and a quote is no hex digit). Every byte read gives at
  // most one byte written, so the string always has room for whatever is left up to `end`,
  // as scan::copy_runs needs.
  out.resize(end - pos_ - 1);
  char* const first = out.data();
  char* const last = first + out.size();
  char* w = first;
  // Locals, not members: a store through a char pointer may alias any object, so members
  // would be read again from memory after every byte written.
  const char* const s = s_.data();
  const std::size_t n = n_;
  std::size_t p = pos_ + 1;
  // The one-letter escapes are most of them: decoded as the copy meets them, the rest below.
  auto simple_escape = [s, end](std::size_t& at, char*& to) {
    if (s[at] != '\\' || at + 1 >= end) return false;
    const char decoded = kSimpleEscapes[static_cast<unsigned char>(s[at + 1])];
    if (decoded == 0) return false;
    *to++ = decoded;
    at += 2;
    return true;
  };
  for (;;) {
    scan::copy_runs<kCheckUtf8>(s, p, end, w, last, simple_escape);
    if (p >= n) {
      pos_ = p;
      return reject("unterminated string");
    }
    const auto c = static_cast<unsigned char>(s[p]);
    if (c == '"') {
      out.resize(static_cast<std::size_t>(w - first));
      pos_ = p + 1;
      return true;
    }
    if (c == '\\') {
      pos_ = p;
      if (!parse_escape(w)) return false;
      p = pos_;
    } else if (c < 0x20) {
      pos_ = p;
      return reject("control character in a string");
    } else {
      // Only reached with kCheckUtf8: a run of characters beyond ASCII, checked one by one.
      do {
        const std::size_t len = scan::sequence_length(s + p, n - p);
        if (len == 0) {
          pos_ = p;
          return reject("invalid UTF-8 in a string");
        }
        for (std::size_t k = 0; k < len; ++k) *w++ = s[p + k];
        p += len;
      } while (p < end && static_cast<unsigned char>(s[p]) >= 0x80);
    }
  }
}

// The escape at pos_ (a backslash), written decoded at w, which moves past it; pos_ moves
// past the escape.
bool Parser::parse_escape(char*& w) {
  if (pos_ + 1 >= n_) return reject("unterminated string");
  char simple;
  switch (s_[pos_ + 1]) {
    case '"':
      simple = '"';
      break;
    case '\\':
      simple = '\\';
      break;
    case '/':
      simple = '/';
      break;
    case 'b':
      simple = '\b';
      break;
    case 'f':
      simple = '\f';
      break;
    case 'n':
      simple = '\n';
      break;
    case 'r':
      simple = '\r';
      break;
    case 't':
      simple = '\t';
      break;
    case 'u':
      return parse_unicode_escape(w);
    default:
      return reject("invalid escape");
  }
  *w++ = simple;
  pos_ += 2;
  return true;
}

// A \u escape at pos_, or two for a surrogate pair, written as UTF-8 at w.
bool Parser::parse_unicode_escape(char*& w) {
  auto unit_at = [&](std::size_t at) -> int {
    if (at + 4 > n_) return -1;
    int v = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      const int d = hex_digit(s_[k]);
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    return v;
  };
  const int unit = unit_at(pos_ + 2);
  if (unit < 0) return reject("invalid \\u escape");
  if (unit >= 0xDC00 && unit <= 0xDFFF) return reject("lone low surrogate");
  std::uint32_t cp = static_cast<std::uint32_t>(unit);
  pos_ += 6;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (pos_ + 1 >= n_ || s_[pos_] != '\\' || s_[pos_ + 1] != 'u')
      return reject("unpaired high surrogate");
    const int low = unit_at(pos_ + 2);
    if (low < 0xDC00 || low > 0xDFFF) return reject("unpaired high surrogate");
    cp = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
         (static_cast<std::uint32_t>(low) - 0xDC00);
    pos_ += 6;
  }
  // Six bytes of escape give at most three of UTF-8, twelve give four: within the size.
  if (cp < 0x80) {
    *w++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *w++ = static_cast<char>(0xC0 | (cp >> 6));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = static_cast<char>(0xE0 | (cp >> 12));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *w++ = static_cast<char>(0xF0 | (cp >> 18));
    *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return true;
}

bool Parser::parse_number() {
  const std::size_t begin = pos_;
  auto digit = [&](std::size_t k) { return k < n_ && s_[k] >= '0' && s_[k] <= '9'; };
  std::size_t p = pos_;
  if (p < n_ && s_[p] == '-') ++p;
  if (!digit(p)) return reject("invalid number");
  if (s_[p] == '0') {
    ++p;
  } else {
    while (digit(p)) ++p;
  }
  bool integral = true;
  if (p < n_ && s_[p] == '.') {
    ++p;
    if (!digit(p)) return reject("invalid number: expected a digit after '.'");
    while (digit(p)) ++p;
    integral = false;
  }
  if (p < n_ && (s_[p] == 'e' || s_[p] == 'E')) {
    ++p;
    if (p < n_ && (s_[p] == '+' || s_[p] == '-')) ++p;
    if (!digit(p)) return reject("invalid number: expected a digit in the exponent");
    while (digit(p)) ++p;
    integral = false;
  }
  pos_ = p;
  const char* first = s_.data() + begin;
  const char* last = s_.data() + p;
  if (integral) {
    // Integers stay integers while they fit 64 bits: signed when negative, else unsigned.
    if (*first == '-') {
      std::int64_t v = 0;
      auto [end, ec] = std::from_chars(first, last, v);
      if (ec == std::errc() && end == last) {
        place(static_cast<Json::number_integer_t>(v));
        return true;
      }
    } else {
      std::uint64_t v = 0;
      auto [end, ec] = std::from_chars(first, last, v);
      if (ec == std::errc() && end == last) {
        place(static_cast<Json::number_unsigned_t>(v));
        return true;
      }
    }
  }
  // Any other number is a double; one that overflows is an error, as with strtod's infinity.
  std::string copy(first, last);
  const double value = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(value)) {
    pos_ = begin;
    return reject("number overflows a double");
  }
  place(value);
  return true;
}

}  // namespace

Result<Json> parse_json(std::string_view text) {
  try {
    return Parser(text).parse(true);
  } catch (const std::exception& e) {
    return ombrel::fail(e.what());  // memory exhaustion; never a crash
  }
}

Result<Json> parse_json_utf8(std::string_view text) {
  try {
    return Parser(text).parse(true, true);
  } catch (const std::exception& e) {
    return ombrel::fail(e.what());
  }
}

Result<Json> parse_json_prefix(std::string_view text) {
  try {
    return Parser(text).parse(false);
  } catch (const std::exception& e) {
    return ombrel::fail(e.what());
  }
}

}  // namespace ombrel::hook
