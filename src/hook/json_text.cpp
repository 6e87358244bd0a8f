#include "json_text.hpp"

#include <cstdint>
#include <cstring>

#include "byte_scan.hpp"
#include "text.hpp"

namespace ombrel::hook {
namespace {

constexpr char kHex[] = "0123456789abcdef";

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

// Writes into a buffer of exactly the size json_text_size gave, so nothing is checked or
// grown on the way. Every byte of a string gives at least one byte of text, which leaves
// room for the whole blocks that scan::copy_plain stores.
class Writer {
 public:
  Writer(char* at, bool all_utf8) : w_(at), all_utf8_(all_utf8) {}
  char* end() const { return w_; }

  void value(const Json& value);

 private:
  void put(std::string_view s) {
    std::memcpy(w_, s.data(), s.size());
    w_ += s.size();
  }
  void put(char c) { *w_++ = c; }
  void string(std::string_view s);
  void escaped_valid(std::string_view s);

  char* w_;
  bool all_utf8_;
};

void Writer::escaped_valid(std::string_view s) {
  const char* text = s.data();
  const std::size_t n = s.size();
  std::size_t p = 0;
  for (;;) {
    scan::copy_plain<false>(text, p, n, w_);
    if (p >= n) return;
    const auto c = static_cast<unsigned char>(text[p++]);
    w_[0] = '\\';
    switch (c) {
      case '"':
        w_[1] = '"';
        break;
      case '\\':
        w_[1] = '\\';
        break;
      case '\b':
        w_[1] = 'b';
        break;
      case '\t':
        w_[1] = 't';
        break;
      case '\n':
        w_[1] = 'n';
        break;
      case '\f':
        w_[1] = 'f';
        break;
      case '\r':
        w_[1] = 'r';
        break;
      default: {
        const char esc[4] = {'0', '0', kHex[c >> 4], kHex[c & 0xF]};
        w_[1] = 'u';
        std::memcpy(w_ + 2, esc, 4);
        w_ += 6;
        continue;
      }
    }
    w_ += 2;
  }
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
      Writer writer(buffer, true);  // at most 20 digits and a sign
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
  Writer writer(out.data() + at, all_utf8);
  writer.value(value);
  out.resize(static_cast<std::size_t>(writer.end() - out.data()));
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
