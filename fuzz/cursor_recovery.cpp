// Salvaging broken Cursor payloads from any text. The bracket scan that stands in for
// "try the parser at every bracket" is checked against doing exactly that, at every
// bracket, in both widths of its tables; the salvaged payloads are checked for their shape.
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "fuzz_check.hpp"
#include "recovery.hpp"
#include "recovery_scan.hpp"
#include "text.hpp"

namespace ombrel::fuzz {
namespace {

namespace text = hook::text;

// The parser's own verdict is quadratic to get for every bracket: only for short texts.
constexpr std::size_t kOracleLimit = 1024;

const std::set<std::string> kStringMembers = {
    "conversation_id", "generation_id",  "model",      "status",          "session_id",
    "hook_event_name", "cursor_version", "user_email", "transcript_path", "cwd",
};
const std::set<std::string> kIntegerMembers = {
    "loop_count", "input_tokens", "output_tokens", "cache_read_tokens", "cache_write_tokens",
};

bool is_cursor_object(const Json& value) {
  return value.is_object() && value.contains("cursor_version");
}

void check_scan_agrees(std::string_view raw) {
  hook::BracketScan scan(raw);
  hook::BasicBracketScan<std::uint64_t> wide(raw);
  std::optional<std::size_t> first;
  for (std::size_t pos = 0; pos < raw.size(); ++pos) {
    if (raw[pos] != '{' && raw[pos] != '[') continue;
    auto parsed = hook::parse_json_prefix(raw.substr(pos));
    const hook::BracketValue got = scan.value_at(pos);
    const std::string_view rest = raw.substr(pos);
    check(got.parses == parsed.ok(), "the scan agrees with the parser", rest);
    // Both widths of the tables give the same answers.
    const hook::BracketValue wide_got = wide.value_at(pos);
    check(wide_got.parses == got.parses && wide_got.is_object == got.is_object &&
              wide_got.has_cursor_version == got.has_cursor_version &&
              (!got.parses || wide_got.end == got.end),
          "the 64-bit scan agrees with the 32-bit one", rest);
    if (!parsed) continue;
    const Json& value = parsed.value();
    check(got.is_object == value.is_object(), "the scan sees objects", rest);
    check(got.has_cursor_version == is_cursor_object(value), "the scan sees cursor_version", rest);
    // The end is where the value stops: the text up to it is that value, on its own.
    check(got.end > pos && got.end <= raw.size(), "the value ends inside the text", rest);
    const std::string_view alone = raw.substr(pos, got.end - pos);
    auto again = hook::parse_json(alone);
    check(again.ok() && again.value() == value, "the value ends where the scan says", alone);
    if (!first && is_cursor_object(value)) first = pos;
  }
  check(scan.work() <= 16 * raw.size() + 64, "the scan's work stays linear", raw);

  hook::BracketScan fresh(raw);
  check(fresh.next_cursor_object(0) == first, "the first cursor object is the parser's", raw);
}

void check_fields(std::string_view raw, bool valid_utf8) {
  auto fields = hook::parse_cursor_fields(raw);
  if (!fields) return;
  const Json& payload = *fields;
  check(payload.contains("cursor_version") && payload.contains("hook_event_name"),
        "salvaged fields include the version and the event", raw);
  for (const auto& [name, value] : payload.items()) {
    if (kStringMembers.count(name)) {
      check(value.is_string(), "a string member is a string", name);
    } else if (kIntegerMembers.count(name)) {
      check(value.is_number_integer(), "an integer member is an integer", name);
    } else {
      check(name == "workspace_roots" && value.is_array(), "only the listed members", name);
      for (const Json& root : value) check(root.is_string(), "roots are strings", name);
    }
  }
  // Any bytes are picked out as they are; only UTF-8 input (all that the hook ever salvages)
  // must give strings that survive being written.
  if (valid_utf8) {
    check_utf8_strings(payload, "salvaged fields keep UTF-8");
    check_round_trip(payload, "salvaged fields");
  }
}

}  // namespace
}  // namespace ombrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrel::fuzz;
  using namespace ombrel::hook;
  const std::string_view raw = as_text(data, size);
  const bool valid_utf8 = ombrel::utf8::is_valid(raw);

  check_parser_agrees(raw);
  if (raw.size() <= kOracleLimit) {
    check_scan_agrees(raw);
  }

  auto first = parse_first_cursor_object(raw);
  if (first) {
    check(is_cursor_object(*first), "the first object carries cursor_version");
    check_round_trip(*first, "the first cursor object");
  }
  check_fields(raw, valid_utf8);

  auto recovered = recover_cursor_payload(raw, "");
  check(recovered.has_value() ==
            (first.has_value() || (raw.find("cursor_version") != std::string_view::npos &&
                                   parse_cursor_fields(raw).has_value())),
        "salvage succeeds when one of its parsers does", raw);
  if (recovered) {
    check(is_cursor_object(*recovered), "a salvaged payload carries cursor_version", raw);
    if (first) check(*recovered == *first, "a whole object wins over single fields", raw);
    if (valid_utf8) check_utf8_strings(*recovered, "salvage keeps UTF-8");
  }
  return 0;
}
