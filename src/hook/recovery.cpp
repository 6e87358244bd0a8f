#include "recovery.hpp"

#include <cstdint>
#include <limits>

#include "recovery_scan.hpp"
#include "runtime.hpp"
#include "text.hpp"

namespace ombrel::hook {
namespace {

constexpr std::string_view kStringMembers[] = {
    "conversation_id", "generation_id",  "model",      "status",          "session_id",
    "hook_event_name", "cursor_version", "user_email", "transcript_path", "cwd",
};
constexpr std::string_view kIntegerMembers[] = {
    "loop_count", "input_tokens", "output_tokens", "cache_read_tokens", "cache_write_tokens",
};

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The text without trailing white space, NUL, byte order marks and replacement characters.
std::string_view trim_end_noise(std::string_view s) {
  for (;;) {
    std::string_view before = s;
    s = utf8::trim_end(s);
    if (ends_with(s, std::string_view("\0", 1))) s.remove_suffix(1);
    if (ends_with(s, "\xEF\xBB\xBF") || ends_with(s, "\xEF\xBF\xBD")) s.remove_suffix(3);
    if (s.size() == before.size()) return s;
  }
}

// What follows `"name"`, the next ":" and any white space; nothing when either is missing.
std::optional<std::string_view> value_after(std::string_view raw, std::string_view name) {
  const std::string quoted = "\"" + std::string(name) + "\"";
  const std::size_t at = raw.find(quoted);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t colon = raw.find(':', at + quoted.size());
  if (colon == std::string_view::npos) return std::nullopt;
  return utf8::trim_start(raw.substr(colon + 1));
}

// A string literal at the start of the text with the common escapes decoded. Nothing when
// it is unterminated or holds a \u escape (those are not decoded, so the member is lost).
std::optional<std::string> read_string(std::string_view s) {
  if (s.empty() || s[0] != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') return out;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u':
        return std::nullopt;
      default:
        out.push_back(s[i]);
        break;  // \" \\ \/ and any other character as it is
    }
  }
  return std::nullopt;
}

// The leading run of digits and "-" read as a signed 64-bit decimal: "12.5" gives 12,
// while an empty run, a misplaced "-" or an overflow gives nothing.
std::optional<std::int64_t> read_integer(std::string_view s) {
  std::size_t run = 0;
  while (run < s.size() && ((s[run] >= '0' && s[run] <= '9') || s[run] == '-')) ++run;
  std::string_view digits = s.substr(0, run);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  // Accumulate the magnitude, allowing one more for the most negative value.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (char c : digits) {
    if (c == '-') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                            : -static_cast<std::int64_t>(magnitude);
}

// "[" up to the first "]" parsed as an array of strings; a "]" inside a string cuts it
// short, which makes it fail.
std::optional<Json> read_string_array(std::string_view s) {
  if (s.empty() || s[0] != '[') return std::nullopt;
  const std::size_t close = s.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  auto parsed = parse_json(s.substr(0, close + 1));
  if (!parsed || !parsed.value().is_array()) return std::nullopt;
  for (const Json& element : parsed.value()) {
    if (!element.is_string()) return std::nullopt;
  }
  return parsed.take();
}

}  // namespace

namespace {

template <class Scan>
std::optional<Json> first_cursor_object(std::string_view text) {
  Scan scan(text);
  for (auto pos = scan.next_cursor_object(0); pos; pos = scan.next_cursor_object(*pos + 1)) {
    // The scan follows the parser's rules; the parser itself builds the value, and should
    // the two ever disagree, the parser's verdict is the one that counts.
    auto parsed = parse_json_prefix(text.substr(*pos));
    if (parsed && parsed.value().is_object() && parsed.value().contains("cursor_version")) {
      return parsed.take();
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Json> parse_first_cursor_object(std::string_view raw) {
  // Each candidate runs from its bracket to the end, trimmed; only the end can change.
  const std::string_view text = trim_end_noise(raw);
  if (BracketScan::fits(text.size())) return first_cursor_object<BracketScan>(text);
  return first_cursor_object<BasicBracketScan<std::uint64_t>>(text);
}

std::optional<Json> parse_cursor_fields(std::string_view raw) {
  Json payload = Json::object();
  for (std::string_view name : kStringMembers) {
    auto at = value_after(raw, name);
    if (!at) continue;
    if (auto value = read_string(*at)) payload[std::string(name)] = std::move(*value);
  }
  for (std::string_view name : kIntegerMembers) {
    auto at = value_after(raw, name);
    if (!at) continue;
    if (auto value = read_integer(*at)) payload[std::string(name)] = *value;
  }
  if (auto at = value_after(raw, "workspace_roots")) {
    if (auto roots = read_string_array(*at)) payload["workspace_roots"] = std::move(*roots);
  }
  if (!payload.contains("cursor_version") || !payload.contains("hook_event_name")) {
    return std::nullopt;
  }
  return payload;
}

std::optional<Json> recover_cursor_payload(std::string_view raw, const std::string& log_path) {
  if (auto payload = parse_first_cursor_object(raw)) {
    debug_log(log_path, "[cursor] using fallback parser for Cursor JSON payload");
    return payload;
  }
  if (raw.find("cursor_version") == std::string_view::npos) return std::nullopt;
  if (auto payload = parse_cursor_fields(raw)) {
    debug_log(log_path, "[cursor] using field fallback parser for invalid Cursor JSON payload");
    return payload;
  }
  return std::nullopt;
}

}  // namespace ombrel::hook
