#include "fuzz_check.hpp"

#include <cstdio>
#include <cstdlib>

#include "text.hpp"

namespace ombrel::fuzz {

void broken(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "\n== broken invariant: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    // Control bytes escaped, long details (whole payloads) cut: the reproducer has the rest.
    std::string shown;
    for (char c : detail.substr(0, 2000)) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
      } else {
        shown.push_back(c);
      }
    }
    std::fprintf(stderr, "== detail (%zu bytes): %s\n", detail.size(), shown.c_str());
  }
  std::abort();
}

std::string check_round_trip(const Json& value, std::string_view what) {
  std::string text = hook::to_json_text(value);
  check(utf8::is_valid(text), what, text);
  // The library's own parser, without our depth limit: the value may legitimately sit one
  // or two levels deeper than any payload (a tool input inside a report).
  Json again = Json::parse(text, nullptr, false);
  check(!again.is_discarded(), what, text);
  check(again == value, what, text);
  check(hook::to_json_text(again) == text, what, text);
  return text;
}

void check_utf8_strings(const Json& value, std::string_view what) {
  switch (value.type()) {
    case Json::value_t::string: {
      const auto& s = value.get_ref<const std::string&>();
      check(utf8::is_valid(s), what, s);
      return;
    }
    case Json::value_t::array:
      for (const Json& element : value) check_utf8_strings(element, what);
      return;
    case Json::value_t::object:
      for (const auto& [key, member] : value.items()) {
        check(utf8::is_valid(key), what, key);
        check_utf8_strings(member, what);
      }
      return;
    default:
      return;
  }
}

namespace {

// nlohmann's DOM builder, stopped at the depth limit.
class DepthLimitedBuilder {
 public:
  explicit DepthLimitedBuilder(Json& root) : inner_(root, false) {}
  bool null() { return inner_.null(); }
  bool boolean(bool v) { return inner_.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return inner_.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return inner_.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const Json::string_t& s) {
    return inner_.number_float(v, s);
  }
  bool string(Json::string_t& v) { return inner_.string(v); }
  bool binary(Json::binary_t& v) { return inner_.binary(v); }
  bool start_object(std::size_t n) {
    return ++depth_ <= hook::kMaxJsonDepth && inner_.start_object(n);
  }
  bool key(Json::string_t& v) { return inner_.key(v); }
  bool end_object() {
    --depth_;
    return inner_.end_object();
  }
  bool start_array(std::size_t n) {
    return ++depth_ <= hook::kMaxJsonDepth && inner_.start_array(n);
  }
  bool end_array() {
    --depth_;
    return inner_.end_array();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  nlohmann::detail::json_sax_dom_parser<Json> inner_;
  int depth_ = 0;
};

}  // namespace

std::optional<Json> reference_parse(std::string_view text, bool strict) {
  // nlohmann's lexer takes a NUL byte for the end of the input and would call `{}` followed
  // by a NUL and anything a whole document. No JSON text holds a raw NUL (it is no white
  // space and not allowed in a string), so a whole document with one is refused; the first
  // value before it still stands.
  if (strict && text.find('\0') != std::string_view::npos) return std::nullopt;
  Json root;
  DepthLimitedBuilder builder(root);
  try {
    if (!Json::sax_parse(text.begin(), text.end(), &builder, Json::input_format_t::json, strict)) {
      return std::nullopt;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return root;
}

void check_parser_agrees(std::string_view text) {
  for (const bool strict : {true, false}) {
    const std::optional<Json> want = reference_parse(text, strict);
    auto got = strict ? hook::parse_json(text) : hook::parse_json_prefix(text);
    const std::string_view what =
        strict ? "parse_json agrees with nlohmann" : "parse_json_prefix agrees with nlohmann";
    check(got.ok() == want.has_value(), what, text);
    if (!want) continue;
    check(got.value() == *want, what, text);
    check(hook::to_json_text(got.value()) == hook::to_json_text(*want), what, text);
  }
}

bool has_outer_white_space(std::string_view s) {
  return utf8::trim(s).size() != s.size();
}

}  // namespace ombrel::fuzz
