#include "json_text.hpp"

#include <cstdint>
#include <cstring>

#include "text.hpp"

namespace ombrel::hook {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Bytes that a JSON string literal cannot hold as they are.
constexpr bool needs_escape(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\';
}

// The extra bytes escaping adds for one byte: "\n" is one more, "\u001f" five more.
constexpr std::size_t escape_growth(unsigned char c) {
  if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
    return 1;
  return c < 0x20 ? 5 : 0;
}

// Whether any of eight bytes needs escaping (a quote, a backslash or a control character).
inline bool chunk_needs_escape(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t quote = x ^ (kOnes * '"');
  const std::uint64_t slash = x ^ (kOnes * '\\');
  const std::uint64_t found =
      ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((x - kOnes * 0x20) & ~x);
  return (found & kHighs) != 0;
}

// The position of the next byte at or after i that needs escaping, or s.size().
std::size_t next_escape(std::string_view s, std::size_t i) {
  while (i + 8 <= s.size()) {
    std::uint64_t chunk;
    std::memcpy(&chunk, s.data() + i, 8);
    if (chunk_needs_escape(chunk)) break;
    i += 8;
  }
  while (i < s.size() && !needs_escape(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

std::size_t escaped_size(std::string_view s) {
  std::size_t size = s.size();
  for (std::size_t i = next_escape(s, 0); i < s.size(); i = next_escape(s, i + 1)) {
    size += escape_growth(static_cast<unsigned char>(s[i]));
  }
  return size;
}

// The length of a string literal: the quotes and the escaped text.
std::size_t string_text_size(std::string_view s) {
  return 2 + (utf8::is_valid(s) ? escaped_size(s) : escaped_size(utf8::lossy(s)));
}

void write_escaped_valid(std::string_view s, std::string& out) {
  std::size_t run = 0;
  for (std::size_t i = next_escape(s, 0); i < s.size(); i = next_escape(s, i + 1)) {
    const auto c = static_cast<unsigned char>(s[i]);
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default: {
        const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(esc, 6);
      }
    }
  }
  out.append(s.data() + run, s.size() - run);
}

void write_string(std::string_view s, std::string& out) {
  out.push_back('"');
  if (utf8::is_valid(s)) {
    write_escaped_valid(s, out);
  } else {
    write_escaped_valid(utf8::lossy(s), out);
  }
  out.push_back('"');
}

}  // namespace

void write_json(const Json& value, std::string& out) {
  switch (value.type()) {
    case Json::value_t::null:
      out += "null";
      return;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      return;
    case Json::value_t::number_integer:
      out += std::to_string(value.get<Json::number_integer_t>());
      return;
    case Json::value_t::number_unsigned:
      out += std::to_string(value.get<Json::number_unsigned_t>());
      return;
    case Json::value_t::number_float:
      // Shortest text that reads back as the same double; rare enough to use the library.
      out += value.dump();
      return;
    case Json::value_t::string:
      write_string(value.get_ref<const Json::string_t&>(), out);
      return;
    case Json::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : value) {
        if (!first) out.push_back(',');
        first = false;
        write_json(element, out);
      }
      out.push_back(']');
      return;
    }
    case Json::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out.push_back(',');
        first = false;
        write_string(key, out);
        out.push_back(':');
        write_json(member, out);
      }
      out.push_back('}');
      return;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      out += "null";  // never produced by parsing; written harmlessly
      return;
  }
}

// The exact length of the text write_json produces.
std::size_t json_text_size(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return string_text_size(value.get_ref<const Json::string_t&>());
    case Json::value_t::array: {
      std::size_t size = 2 + (value.empty() ? 0 : value.size() - 1);
      for (const auto& element : value) size += json_text_size(element);
      return size;
    }
    case Json::value_t::object: {
      std::size_t size = 2 + (value.empty() ? 0 : value.size() * 2 - 1);  // colons and commas
      for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
        size += string_text_size(key) + json_text_size(member);
      }
      return size;
    }
    default: {
      std::string scalar;
      write_json(value, scalar);
      return scalar.size();
    }
  }
}

std::string to_json_text(const Json& value) {
  std::string out;
  // Sized first: a report holding megabytes of tool input is written into one buffer of
  // the right size instead of growing (and copying) its way there.
  out.reserve(json_text_size(value));
  write_json(value, out);
  return out;
}

}  // namespace ombrel::hook
