// What the hook reads out of a payload for the desktop: the display form of a tool input,
// the working directory, the last user and assistant messages, and the log previews.
// The input is one JSON document (anything else only exercises the previews).
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.hpp"
#include "state.hpp"
#include "text.hpp"
#include "transcript.hpp"
#include "util.hpp"
#include "workspace.hpp"

namespace ombrel::fuzz {
namespace {

namespace text = hook::text;

const std::set<std::string> kListMembers = {"commands",  "files", "paths",   "file_paths",
                                            "filePaths", "edits", "patches", "urls"};

// One line, single blanks, at most 180 characters and an ellipsis.
void check_preview(std::string_view original) {
  const std::string preview = hook::preview_for_log(original);
  check(text::char_count(preview) <= 181, "a preview has at most 181 characters", preview);
  check(!has_outer_white_space(preview), "a preview is trimmed", preview);
  bool after_blank = false;
  for (std::size_t i = 0; i < preview.size();) {
    const utf8::Decoded d = utf8::decode(preview, i);
    const bool blank = utf8::is_white_space(d.cp);
    check(!blank || (d.cp == ' ' && !after_blank), "a preview has single blanks only", preview);
    after_blank = blank;
    i += d.len;
  }
  if (utf8::is_valid(original)) {
    check(utf8::is_valid(preview), "a preview of UTF-8 is UTF-8", preview);
    if (text::char_count(preview) <= 180) {
      check(hook::preview_for_log(preview) == preview, "a short preview is its own preview",
            preview);
    }
  }
}

// Trimmed, not empty, and UTF-8 whenever it is found.
void check_found_text(const std::optional<std::string>& found, std::string_view what) {
  if (!found) return;
  check(!found->empty() && !has_outer_white_space(*found), what, *found);
  check(utf8::is_valid(*found), what, *found);
}

void check_display(const Json& input) {
  const Json shown = hook::normalize_tool_input_for_display(input);
  check_round_trip(shown, "display input");
  if (!input.is_object()) {
    check(shown == input, "only objects are changed", hook::to_json_text(input));
    return;
  }
  const std::string before = hook::to_json_text(input);
  for (const auto& [name, value] : input.items()) {
    check(shown.contains(name), "no member is dropped", before);
    const Json& now = shown[name];
    if (now == value) continue;
    // Only JSON text in a list member may change, into the value it spells.
    check(kListMembers.count(name) == 1 && value.is_string(), "only list members change", before);
    const std::string_view trimmed = utf8::trim(value.get_ref<const std::string&>());
    auto parsed = hook::parse_json(trimmed);
    check(parsed.ok() && parsed.value() == now, "a list member becomes its JSON", before);
  }
  for (const auto& [name, value] : shown.items()) {
    if (input.contains(name)) continue;
    // "command" from "commands", "path" from "files"; never blank, never over the agent's own.
    check((name == "command" && input.contains("commands")) ||
              (name == "path" && input.contains("files")),
          "only command and path are added", before);
    check(value.is_string() && !utf8::is_blank(value.get_ref<const std::string&>()),
          "an added display field is text", before);
  }
  check(hook::normalize_tool_input_for_display(shown) == shown, "display form is stable", before);
}

void check_cwd(const Json& payload) {
  const Json cwd = hook::cwd_from_payload(payload);
  if (cwd.is_null()) return;
  check(payload.is_object() && cwd.is_string(), "cwd is text found in an object");
  const auto& path = cwd.get_ref<const std::string&>();
  // Trimmed before a "file://" is taken off: what follows the scheme is kept as it is.
  check(!path.empty() && utf8::trim_end(path).size() == path.size(),
        "cwd is not empty and ends trimmed", path);
  check(utf8::is_valid(path), "cwd is UTF-8", path);
}

void check_messages(const Json& payload) {
  auto on_prompt = hook::last_user_message_from_payload("claude", "UserPromptSubmit", payload, "");
  auto on_stop = hook::last_user_message_from_payload("claude", "Stop", payload, "");
  // The prompt event only adds places to look.
  check(!on_stop || on_prompt, "a prompt event finds what any event finds");
  for (const auto& found : {on_prompt, on_stop}) {
    if (found) check(utf8::is_valid(*found), "a user message is UTF-8", *found);
  }

  const bool own =
      hook::json_scalar_to_string(hook::member(payload, "last_assistant_message")).has_value();
  for (std::string_view source : {"claude", "kiro", "cline", "gemini", "reasonix"}) {
    auto said = hook::resolve_last_assistant_message(source, payload);
    if (!said) continue;
    check(utf8::is_valid(*said), "an assistant message is UTF-8", *said);
    check(own || source != "claude", "no rule for claude but its own member");
    if (!own) check(!utf8::is_blank(*said), "a found assistant message is not blank", *said);
  }
}

// Every string of the document, for the previews, up to a bound.
void collect_strings(const Json& value, std::vector<const std::string*>& out) {
  if (out.size() >= 64) return;
  if (value.is_string()) {
    out.push_back(&value.get_ref<const std::string&>());
  } else if (value.is_structured()) {
    for (const Json& element : value) collect_strings(element, out);
  }
}

}  // namespace
}  // namespace ombrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrel::fuzz;
  using namespace ombrel::hook;
  const std::string_view raw = as_text(data, size);
  check_preview(raw);
  check_parser_agrees(raw);

  auto parsed = parse_json(raw);
  if (!parsed) return 0;
  const Json& payload = parsed.value();

  check_display(payload);
  if (const Json* input = member(payload, "tool_input")) check_display(*input);
  check_cwd(payload);
  check_messages(payload);

  check_found_text(text_from_value(&payload), "text of the document is trimmed");
  if (payload.is_object()) {
    for (const auto& [name, value] : payload.items()) {
      check_found_text(text_from_value(&value), "text of a member is trimmed");
    }
  }
  std::vector<const std::string*> strings;
  collect_strings(payload, strings);
  for (const std::string* s : strings) check_preview(*s);
  return 0;
}
