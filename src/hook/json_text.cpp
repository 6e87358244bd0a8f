#include "json_text.hpp"

#include <cstring>

#include "text.hpp"

namespace ombrel::hook {
namespace {

// Builds the value like nlohmann's own DOM builder, but stops at the depth limit and keeps
// the parser's error text instead of throwing.
class DomBuilder {
 public:
  explicit DomBuilder(Json& root) : inner_(root, false) {}

  bool null() { return inner_.null(); }
  bool boolean(bool v) { return inner_.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return inner_.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return inner_.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const Json::string_t& s) {
    return inner_.number_float(v, s);
  }
  bool string(Json::string_t& v) { return inner_.string(v); }
  bool binary(Json::binary_t& v) { return inner_.binary(v); }
  bool start_object(std::size_t n) { return enter() && inner_.start_object(n); }
  bool key(Json::string_t& v) { return inner_.key(v); }
  bool end_object() {
    --depth_;
    return inner_.end_object();
  }
  bool start_array(std::size_t n) { return enter() && inner_.start_array(n); }
  bool end_array() {
    --depth_;
    return inner_.end_array();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    error_ = ex.what();
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  bool enter() {
    if (++depth_ > kMaxJsonDepth) {
      error_ = "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
      return false;
    }
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<Json> inner_;
  int depth_ = 0;
  std::string error_;
};

Result<Json> parse(std::string_view text, bool strict) {
  Json root;
  DomBuilder builder(root);
  bool ok = false;
  try {
    ok = Json::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json,
                         strict);
  } catch (const std::exception& e) {
    return fail(e.what());  // allocation failure and the like; never a crash
  }
  if (!ok) return fail(builder.error().empty() ? "invalid JSON" : builder.error());
  return root;
}

constexpr char kHex[] = "0123456789abcdef";

// Bytes that a JSON string literal cannot hold as they are.
constexpr bool needs_escape(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\';
}

void write_escaped_valid(std::string_view s, std::string& out) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!needs_escape(c)) continue;
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
  if (text::is_valid_utf8(s)) {
    write_escaped_valid(s, out);
  } else {
    write_escaped_valid(text::lossy_utf8(s), out);
  }
  out.push_back('"');
}

}  // namespace

Result<Json> parse_json(std::string_view text) {
  return parse(text, true);
}
Result<Json> parse_json_prefix(std::string_view text) {
  return parse(text, false);
}

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

std::string to_json_text(const Json& value) {
  std::string out;
  write_json(value, out);
  return out;
}

}  // namespace ombrel::hook
