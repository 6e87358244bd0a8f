#include "json_text.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

#include "byte_scan.hpp"
#include "text.hpp"

namespace ombrel::hook {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// The letter after the backslash for the characters with a short escape; 0 for the other
// control characters, written as \u00XX.
constexpr auto kShortEscapes = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  return table;
}();

// The length of a string literal: the quotes and the escaped text. A string that is not
// UTF-8 is written repaired, as utf8::lossy repairs it; `all_utf8` is cleared for it.
std::size_t string_text_size(std::string_view s, bool& all_utf8) {
  if (scan::is_valid_utf8(s)) return 2 + s.size() + scan::escape_growth(s);
  all_utf8 = false;
  const std::string repaired = utf8::lossy(s);
  return 2 + repaired.size() + scan::escape_growth(repaired);
}

// The exact length of the text the Writer produces, and whether every string in the value
// is UTF-8 (then the Writer need not check them again).
std::size_t text_size(const Json& value, bool& all_utf8);

// Writes the text into a buffer. Given the exact size json_text_size reports, it writes
// straight through, checking nothing. Given a sink, the buffer is a window: whenever the
// next write might not fit, what is there goes to the sink and the window starts again, so
// a text of megabytes never needs to be held whole. Every byte of a string gives at least
// one byte of text, which leaves room for the whole blocks that scan::copy_runs stores.
class Writer {
 public:
  using Sink = std::function<Status(std::string_view)>;

  Writer(char* at, std::size_t size, bool all_utf8)
      : begin_(at), w_(at), limit_(at + size), all_utf8_(all_utf8) {}
  Writer(char* at, std::size_t window, bool all_utf8, const Sink& sink)
      : begin_(at), w_(at), limit_(at + window), all_utf8_(all_utf8), sink_(&sink) {}
  char* end() const { return w_; }

  void value(const Json& value);
  // Hands what is left to the sink; the first failure of the sink, if any.
  Status finish() {
    flush();
    return status_;
  }

 private:
  // The longest text put() writes in one go (a number, the longest escape) is far below it.
  static constexpr std::size_t kLongestPut = 64;

  void flush() {
    if (sink_ != nullptr && w_ != begin_ && status_)
      status_ = (*sink_)({begin_, std::size_t(w_ - begin_)});
    w_ = begin_;
  }
  void make_room(std::size_t bytes) {
    // Signed: a window overrun by a fault must flush, not look like endless room.
    if (sink_ != nullptr && limit_ - w_ < static_cast<std::ptrdiff_t>(bytes)) flush();
  }
  void put(std::string_view s) {
    make_room(s.size());
    std::memcpy(w_, s.data(), s.size());
    w_ += s.size();
  }
  void put(char c) {
    make_room(1);
    *w_++ = c;
  }
  void string(std::string_view s);
  void escaped_valid(std::string_view s);

  char* begin_;
  char* w_;
  char* limit_;  // the end of the buffer, or of the window
  bool all_utf8_;
  const Sink* sink_ = nullptr;
  Status status_ = Status::success();
};

// The escape of one byte that needs one, at w.
char* write_escape(unsigned char c, char* w) {
  w[0] = '\\';
  if (const char letter = kShortEscapes[c]) {
    w[1] = letter;
    return w + 2;
  }
  const char esc[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
  std::memcpy(w + 1, esc, 5);
  return w + 6;
}

void Writer::escaped_valid(std::string_view s) {
  constexpr std::size_t kLongestEscape = 6;  // \u00XX
  const char* text = s.data();
  const std::size_t n = s.size();
  std::size_t p = 0;
  // The write position in a local, not the member: a store through a char pointer may
  // alias any object, the member included, which would be read again after every store.
  char* w = w_;
  // With a sink, the copy stops where the window could not hold one more escape; given the
  // exact size, the text fits to the last byte.
  char* const wend = sink_ != nullptr ? limit_ - kLongestEscape : limit_;
  auto escape = [text](std::size_t& at, char*& to) {
    to = write_escape(static_cast<unsigned char>(text[at++]), to);
    return true;
  };
  for (;;) {
    if (sink_ != nullptr) {
      w_ = w;
      make_room(kLongestPut);
      w = w_;
    }
    scan::copy_runs<false>(text, p, n, w, wend, escape);
    if (p >= n) break;  // else the window is full: the next round starts a new one
  }
  w_ = w;
}

void Writer::string(std::string_view s) {
  put('"');
  if (all_utf8_ || scan::is_valid_utf8(s)) {
    escaped_valid(s);
  } else {
    escaped_valid(utf8::lossy(s));
  }
  put('"');
}

void Writer::value(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      put("null");
      return;
    case Json::value_t::boolean:
      put(value.get<bool>() ? "true" : "false");
      return;
    case Json::value_t::number_integer:
      put(std::to_string(value.get<Json::number_integer_t>()));
      return;
    case Json::value_t::number_unsigned:
      put(std::to_string(value.get<Json::number_unsigned_t>()));
      return;
    case Json::value_t::number_float:
      // Shortest text that reads back as the same double; rare enough to use the library.
      put(value.dump());
      return;
    case Json::value_t::string:
      string(value.get_ref<const Json::string_t&>());
      return;
    case Json::value_t::array: {
      put('[');
      bool first = true;
      for (const auto& element : value.get_ref<const Json::array_t&>()) {
        if (!first) put(',');
        first = false;
        this->value(element);
      }
      put(']');
      return;
    }
    case Json::value_t::object: {
      put('{');
      bool first = true;
      for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
        if (!first) put(',');
        first = false;
        string(key);
        put(':');
        this->value(member);
      }
      put('}');
      return;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      put("null");  // never produced by parsing; written harmlessly
      return;
  }
}

// The length of a scalar's text (not a string's): short, so written and measured.
std::size_t scalar_text_size(const Json& value) {
  char buffer[64];
  switch (value.type()) {
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      Writer writer(buffer, sizeof buffer, true);  // at most 20 digits and a sign
      writer.value(value);
      return static_cast<std::size_t>(writer.end() - buffer);
    }
    case Json::value_t::number_float:
      return value.dump().size();
    case Json::value_t::boolean:
      return value.get<bool>() ? 4 : 5;
    default:
      return 4;  // null, and what is written as null
  }
}

std::size_t text_size(const Json& value, bool& all_utf8) {
  switch (value.type()) {
    case Json::value_t::string:
      return string_text_size(value.get_ref<const Json::string_t&>(), all_utf8);
    case Json::value_t::array: {
      std::size_t size = 2 + (value.empty() ? 0 : value.size() - 1);
      for (const auto& element : value.get_ref<const Json::array_t&>()) {
        size += text_size(element, all_utf8);
      }
      return size;
    }
    case Json::value_t::object: {
      std::size_t size = 2 + (value.empty() ? 0 : value.size() * 2 - 1);  // colons and commas
      for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
        size += string_text_size(key, all_utf8) + text_size(member, all_utf8);
      }
      return size;
    }
    default:
      return scalar_text_size(value);
  }
}

}  // namespace

void write_json(const Json& value, std::string& out) {
  // One pass to size the text, one to write it: a report holding megabytes of tool input
  // goes into one buffer of the right size instead of growing (and copying) its way there.
  bool all_utf8 = true;
  const std::size_t size = text_size(value, all_utf8);
  const std::size_t at = out.size();
  out.resize(at + size);
  Writer writer(out.data() + at, size, all_utf8);
  writer.value(value);
  out.resize(static_cast<std::size_t>(writer.end() - out.data()));
}

JsonTextSize measure_json_text(const Json& value) {
  JsonTextSize size{0, true};
  size.bytes = text_size(value, size.all_utf8);
  return size;
}

Status write_json_pieces(const Json& value, const JsonTextSize& size, std::size_t piece_bytes,
                         const std::function<Status(std::string_view)>& sink) {
  if (size.bytes <= piece_bytes) {  // one piece: written whole, as write_json does
    std::string text(size.bytes, '\0');
    Writer writer(text.data(), text.size(), size.all_utf8);
    writer.value(value);
    return sink(text);
  }
  std::string window(std::max<std::size_t>(piece_bytes, 1024), '\0');
  Writer writer(window.data(), window.size(), size.all_utf8, sink);
  writer.value(value);
  return writer.finish();
}

std::size_t json_text_size(const Json& value) {
  bool all_utf8 = true;
  return text_size(value, all_utf8);
}

std::string to_json_text(const Json& value) {
  std::string out;
  write_json(value, out);
  return out;
}

}  // namespace ombrel::hook
