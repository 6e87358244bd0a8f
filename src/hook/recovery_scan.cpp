#include "recovery_scan.hpp"

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "json_text.hpp"
#include "text.hpp"

// Why one pass is enough: whether a value starting at a given position is well formed,
// where it ends and how deep it nests depend on the text alone, never on what encloses
// it. So each container is scanned once and remembered; an enclosing container that
// meets it again jumps to its end, and a later start position inside it is answered from
// memory. The depth limit counts from wherever parsing starts, so it is applied to the
// remembered height afterwards rather than during the scan. A container fails when a
// child fails, so one failure settles the whole chain of open containers at once.
// What is left is a container walking tokens another one already walked; that cannot
// happen: a start position inside a string of a well-formed stretch sees every quote of
// the stretch with the opposite meaning (or fails on the first backslash outside a
// string), so it never lands on the same token boundaries. Each token is walked past by
// at most one container, and each container stops at most once, on the token it cannot
// read. The per-bracket tables use 32-bit positions wherever the text allows, because
// on hostile input the memory a scan touches costs more than its computation.

namespace ombrel::hook {
namespace {

constexpr std::size_t kFail = static_cast<std::size_t>(-1);

// Per-bracket memory: the outcome in the low bits, the nesting height above them.
enum State : std::uint32_t {
  kUnknown = 0,
  kFailed = 1,
  kArray = 2,
  kObject = 3,
  kCursorObject = 4
};
constexpr std::uint32_t kStateBits = 3;
constexpr std::uint32_t kStateMask = (1u << kStateBits) - 1;
// Heights beyond the limit all mean "too deep"; capping keeps them small.
constexpr auto kMaxDepth = static_cast<std::uint32_t>(kMaxJsonDepth);
constexpr std::uint32_t kHeightCap = kMaxDepth + 1;
static_assert(kHeightCap <= 0xFF, "heights are kept in one byte");

constexpr std::uint16_t pack(State state, std::uint32_t height) {
  return static_cast<std::uint16_t>(state | (height << kStateBits));
}
constexpr State state_of(std::uint16_t info) {
  return static_cast<State>(info & kStateMask);
}
constexpr std::uint32_t height_of(std::uint16_t info) {
  return static_cast<std::uint32_t>(info >> kStateBits);
}

constexpr bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The four hex digits at text[i..i+4) as a code unit, or -1.
int hex4(std::string_view text, std::size_t i) {
  if (i + 4 > text.size()) return -1;
  int value = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    int digit = hex_value(static_cast<unsigned char>(text[i + k]));
    if (digit < 0) return -1;
    value = value << 4 | digit;
  }
  return value;
}

}  // namespace

template <class Offset>
BasicBracketScan<Offset>::BasicBracketScan(std::string_view text) : text_(text) {
  const std::size_t words = text.size() / 64 + 1;
  bits_.assign(words, 0);
  ranks_.assign(words, 0);
  std::size_t count = 0;
  for (std::size_t w = 0; w < words; ++w) {
    ranks_[w] = static_cast<Offset>(count);
    const std::size_t end = std::min(text.size(), (w + 1) * 64);
    std::uint64_t word = 0;
    for (std::size_t i = w * 64; i < end; ++i) {
      if (text[i] == '{' || text[i] == '[') word |= std::uint64_t{1} << (i % 64);
    }
    bits_[w] = word;
    count += static_cast<std::size_t>(std::popcount(word));
  }
  brackets_ = count;
  // Only the ends of values that parse are ever read, and those are written first; leaving
  // the rest untouched spares memory a hostile text would otherwise make us fill.
  ends_ = std::make_unique_for_overwrite<Offset[]>(count);
  infos_.assign(count, kUnknown);
}

template <class Offset>
std::size_t BasicBracketScan<Offset>::rank(std::size_t pos) const {
  const std::uint64_t below = (std::uint64_t{1} << (pos % 64)) - 1;
  return ranks_[pos / 64] + static_cast<std::size_t>(std::popcount(bits_[pos / 64] & below));
}

template <class Offset>
std::optional<std::size_t> BasicBracketScan<Offset>::next_bracket(std::size_t from) const {
  if (from >= text_.size()) return std::nullopt;
  std::size_t w = from / 64;
  std::uint64_t word = bits_[w] & (~std::uint64_t{0} << (from % 64));
  while (word == 0) {
    if (++w == bits_.size()) return std::nullopt;
    word = bits_[w];
  }
  return w * 64 + static_cast<std::size_t>(std::countr_zero(word));
}

template <class Offset>
BracketValue BasicBracketScan<Offset>::value_at(std::size_t pos) {
  const std::size_t r = rank(pos);
  if (state_of(infos_[r]) == kUnknown) scan_from(pos);
  const std::uint16_t info = infos_[r];
  const State state = state_of(info);
  BracketValue value;
  value.parses = state != kFailed && height_of(info) <= kMaxDepth;
  if (!value.parses) return value;
  value.is_object = state == kObject || state == kCursorObject;
  value.has_cursor_version = state == kCursorObject;
  value.end = ends_[r];
  return value;
}

template <class Offset>
std::optional<std::size_t> BasicBracketScan<Offset>::next_cursor_object(std::size_t from) {
  for (auto pos = next_bracket(from); pos; pos = next_bracket(*pos + 1)) {
    if (value_at(*pos).has_cursor_version) return pos;
  }
  return std::nullopt;
}

template <class Offset>
std::size_t BasicBracketScan<Offset>::skip_white_space(std::size_t i) {
  const std::size_t begin = i;
  while (i < text_.size() &&
         (text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\n' || text_[i] == '\r')) {
    ++i;
  }
  work_ += i - begin;
  return i;
}

template <class Offset>
void BasicBracketScan<Offset>::fail_all() {
  for (const Frame& frame : stack_) infos_[frame.bracket] = kFailed;
  stack_.clear();
}

template <class Offset>
void BasicBracketScan<Offset>::open(std::size_t pos) {
  // Nesting may be as deep as the text has brackets; reserving once avoids copying a
  // deep stack while it grows.
  if (stack_.capacity() == 0) stack_.reserve(brackets_);
  const bool object = text_[pos] == '{';
  stack_.push_back(Frame{static_cast<Offset>(rank(pos)), 1,
                         object ? Expect::kKeyOrClose : Expect::kValueOrClose, object, false});
}

// Walks the container at root and every container it meets that is not yet known,
// keeping the open ones on an explicit stack.
template <class Offset>
void BasicBracketScan<Offset>::scan_from(std::size_t root) {
  open(root);
  std::size_t i = root + 1;
  while (!stack_.empty()) {
    ++work_;
    Frame& frame = stack_.back();
    i = skip_white_space(i);
    const int c = i < text_.size() ? static_cast<unsigned char>(text_[i]) : -1;
    Expect expect = frame.expect;

    if (expect == Expect::kValueOrClose || expect == Expect::kKeyOrClose ||
        expect == Expect::kCommaOrClose) {
      if (c == (frame.object ? '}' : ']')) {
        const State state =
            frame.object ? (frame.has_cursor_version ? kCursorObject : kObject) : kArray;
        const std::uint32_t height = frame.height;
        infos_[frame.bracket] = pack(state, height);
        ends_[frame.bracket] = static_cast<Offset>(i + 1);
        stack_.pop_back();
        i += 1;
        if (stack_.empty()) return;
        Frame& parent = stack_.back();
        parent.height = static_cast<std::uint8_t>(
            std::max<std::uint32_t>(parent.height, std::min(kHeightCap, height + 1)));
        parent.expect = Expect::kCommaOrClose;
        continue;
      }
      if (expect == Expect::kCommaOrClose) {
        if (c != ',') return fail_all();
        frame.expect = frame.object ? Expect::kKey : Expect::kValue;
        i += 1;
        continue;
      }
      expect = frame.object ? Expect::kKey : Expect::kValue;
    }

    switch (expect) {
      case Expect::kKey: {
        if (c != '"') return fail_all();
        const std::size_t end = lex_string(i);
        if (end == kFail) return fail_all();
        if (!frame.has_cursor_version && string_equals(i, end, "cursor_version")) {
          frame.has_cursor_version = true;
        }
        frame.expect = Expect::kColon;
        i = end;
        break;
      }
      case Expect::kColon:
        if (c != ':') return fail_all();
        frame.expect = Expect::kValue;
        i += 1;
        break;
      case Expect::kValue: {
        if (c == '[' || c == '{') {
          const std::size_t r = rank(i);
          const std::uint16_t info = infos_[r];
          if (state_of(info) == kUnknown) {
            frame.expect = Expect::kCommaOrClose;  // where this frame resumes
            open(i);                               // frame is invalid from here on
            i += 1;
            break;
          }
          if (state_of(info) == kFailed) return fail_all();
          frame.height = static_cast<std::uint8_t>(
              std::max<std::uint32_t>(frame.height, std::min(kHeightCap, height_of(info) + 1)));
          frame.expect = Expect::kCommaOrClose;
          i = ends_[r];
          break;
        }
        const std::size_t end = lex_scalar(i);
        if (end == kFail) return fail_all();
        frame.expect = Expect::kCommaOrClose;
        i = end;
        break;
      }
      default:
        break;  // the close-or-continue states were handled above
    }
  }
}

template <class Offset>
std::size_t BasicBracketScan<Offset>::lex_scalar(std::size_t i) {
  if (i >= text_.size()) return kFail;
  switch (text_[i]) {
    case '"':
      return lex_string(i);
    case 't':
      return text_.substr(i, 4) == "true" ? i + 4 : kFail;
    case 'f':
      return text_.substr(i, 5) == "false" ? i + 5 : kFail;
    case 'n':
      return text_.substr(i, 4) == "null" ? i + 4 : kFail;
    default:
      return lex_number(i);
  }
}

// The string literal opening at text_[i]: the position after its closing quote, or kFail.
// Same rules as the JSON parser: escapes, paired surrogates, no raw control characters,
// and well-formed UTF-8 only.
template <class Offset>
std::size_t BasicBracketScan<Offset>::lex_string(std::size_t i) {
  const std::size_t begin = i;
  const std::size_t n = text_.size();
  ++i;
  std::size_t result = kFail;
  while (i < n) {
    const int c = static_cast<unsigned char>(text_[i]);
    if (c == '"') {
      result = i + 1;
      break;
    }
    if (c == '\\') {
      if (i + 1 >= n) break;
      const char e = text_[i + 1];
      if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
          e == 't') {
        i += 2;
        continue;
      }
      if (e != 'u') break;
      const int unit = hex4(text_, i + 2);
      if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) break;
      i += 6;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 >= n || text_[i] != '\\' || text_[i + 1] != 'u') break;
        const int low = hex4(text_, i + 2);
        if (low < 0xDC00 || low > 0xDFFF) break;
        i += 6;
      }
      continue;
    }
    if (c < 0x20) break;
    if (c < 0x80) {
      ++i;
      continue;
    }
    const std::size_t len = utf8::sequence_length(text_, i);
    if (len == 0) break;
    i += len;
  }
  work_ += i - begin;
  return result;
}

// The number at text_[i]: the position after it, or kFail for a malformed number or one
// whose value overflows a double (the parser rejects those too).
template <class Offset>
std::size_t BasicBracketScan<Offset>::lex_number(std::size_t i) {
  const std::size_t begin = i;
  const std::size_t n = text_.size();
  auto at = [&](std::size_t k) { return k < n ? static_cast<unsigned char>(text_[k]) : -1; };
  auto digits = [&] {
    if (!is_digit(at(i))) return false;
    while (is_digit(at(i))) ++i;
    return true;
  };
  bool ok = true;
  bool exponent = false;
  if (at(i) == '-') ++i;
  const std::size_t int_begin = i;
  if (at(i) == '0') {
    ++i;
  } else {
    ok = digits();  // a leading 1-9, or nothing valid
  }
  const std::size_t int_digits = i - int_begin;
  if (ok && at(i) == '.') {
    ++i;
    ok = digits();
  }
  if (ok && (at(i) == 'e' || at(i) == 'E')) {
    exponent = true;
    ++i;
    if (at(i) == '+' || at(i) == '-') ++i;
    ok = digits();
  }
  work_ += i - begin + 1;
  if (!ok) return kFail;
  // Below 10^308 without an exponent: finite for sure, no conversion needed.
  if ((exponent || int_digits > 308) && !number_is_finite(begin, i)) return kFail;
  return i;
}

template <class Offset>
bool BasicBracketScan<Offset>::number_is_finite(std::size_t begin, std::size_t end) {
  // Converted the way the parser converts it: strtod, with "." as the locale spells it.
  const char point = *std::localeconv()->decimal_point;
  number_.assign(text_.substr(begin, end - begin));
  for (char& ch : number_) {
    if (ch == '.') ch = point;
  }
  return std::isfinite(std::strtod(number_.c_str(), nullptr));
}

// Whether the string literal text_[begin..end) decodes to want.
template <class Offset>
bool BasicBracketScan<Offset>::string_equals(std::size_t begin, std::size_t end,
                                             std::string_view want) const {
  std::string_view raw = text_.substr(begin + 1, end - begin - 2);
  if (raw.find('\\') == std::string_view::npos) return raw == want;
  if (raw.size() > want.size() * 6) return false;  // escapes are at most six bytes a unit
  std::string decoded;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] != '\\') {
      decoded.push_back(raw[i++]);
      continue;
    }
    const char e = raw[i + 1];  // the literal is valid: an escape is complete
    switch (e) {
      case 'b':
        decoded.push_back('\b');
        break;
      case 'f':
        decoded.push_back('\f');
        break;
      case 'n':
        decoded.push_back('\n');
        break;
      case 'r':
        decoded.push_back('\r');
        break;
      case 't':
        decoded.push_back('\t');
        break;
      case 'u': {
        std::uint32_t cp = static_cast<std::uint32_t>(hex4(raw, i + 2));
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          const auto low = static_cast<std::uint32_t>(hex4(raw, i + 8));
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          i += 6;
        }
        utf8::append(decoded, cp);
        i += 6;
        continue;
      }
      default:
        decoded.push_back(e);
        break;
    }
    i += 2;
  }
  return decoded == want;
}

template class BasicBracketScan<std::uint32_t>;
template class BasicBracketScan<std::uint64_t>;

}  // namespace ombrel::hook
