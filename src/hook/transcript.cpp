#include "transcript.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "runtime.hpp"
#include "text.hpp"
#include "util.hpp"

namespace ombrel::hook {
namespace {

constexpr std::size_t kPreviewChars = 180;

// Whether anything (file, directory, ...) exists at the path, following symbolic links.
bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The names in a directory in the order the system lists them, without "." and "..";
// nothing when the directory cannot be listed.
std::optional<std::vector<std::string>> list_directory(const std::string& dir) {
  std::unique_ptr<DIR, int (*)(DIR*)> handle(opendir(dir.c_str()), closedir);
  if (!handle) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(handle.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

// Paths are built from raw bytes (the home directory may hold any), reported as text.
std::string path_text(const std::string& path) {
  return utf8::lossy(path);
}

std::optional<std::string> kiro_transcript(const Json& payload) {
  auto id = json_scalar_to_string(member(payload, "session_id"));
  if (!id) return std::nullopt;
  return path_text(join_path(home_dir(), ".kiro/sessions/cli/" + *id + ".jsonl"));
}

std::optional<std::string> kimi_transcript(const Json& payload) {
  auto id = json_scalar_to_string(member(payload, "session_id"));
  if (!id) return std::nullopt;
  const std::string sessions = join_path(home_dir(), ".kimi/sessions");
  auto entries = list_directory(sessions);
  if (!entries) return std::nullopt;
  for (const std::string& entry : *entries) {
    std::string candidate = join_path(join_path(join_path(sessions, entry), *id), "wire.jsonl");
    if (exists(candidate)) return path_text(candidate);
  }
  return std::nullopt;
}

std::optional<std::string> cline_transcript(const Json& payload) {
  auto id = json_scalar_to_string(at_pointer(payload, "/sessionContext/rootSessionId"));
  if (!id) id = json_scalar_to_string(member(payload, "rootSessionId"));
  if (!id) return std::nullopt;
  std::string candidate =
      join_path(home_dir(), ".cline/data/sessions/" + *id + "/" + *id + ".messages.json");
  if (!exists(candidate)) return std::nullopt;
  return path_text(candidate);
}

// The last component of a path, as a path library names it: trailing "/" and "."
// components do not count, and ".." or a bare root has none.
std::optional<std::string> final_component(std::string_view path) {
  std::string_view last;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view piece = path.substr(pos, slash - pos);
    if (!piece.empty() && piece != ".") last = piece;
    pos = slash + 1;
  }
  if (last.empty() || last == "..") return std::nullopt;
  return std::string(last);
}

std::string current_directory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE || buffer.size() > (1u << 20)) return ".";
    buffer.resize(buffer.size() * 2);
  }
}

// The last modification time as (seconds, nanoseconds) since the epoch; the epoch itself
// when it cannot be read, so that such files lose against any real time.
using FileTime = std::pair<std::int64_t, std::int64_t>;
FileTime modified_time(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {0, 0};
#if defined(__APPLE__)
  const struct timespec& t = st.st_mtimespec;
#else
  const struct timespec& t = st.st_mtim;
#endif
  return {static_cast<std::int64_t>(t.tv_sec), static_cast<std::int64_t>(t.tv_nsec)};
}

std::optional<std::string> reasonix_transcript(const Json& payload) {
  const std::string sessions = join_path(home_dir(), ".reasonix/sessions");

  const Json* cwd = member(payload, "cwd");
  const std::string project_dir =
      cwd != nullptr && cwd->is_string() ? cwd->get<std::string>() : current_directory();
  if (auto name = final_component(project_dir); name && utf8::is_valid(*name)) {
    std::string candidate = join_path(sessions, "code-" + *name + ".jsonl");
    if (exists(candidate)) return path_text(candidate);
  }

  auto entries = list_directory(sessions);
  if (!entries) return std::nullopt;
  struct Candidate {
    std::string path;
    FileTime modified;
  };
  std::vector<Candidate> kept;
  for (const std::string& name : *entries) {
    if (!utf8::is_valid(name) || name.size() < 6 || name.substr(name.size() - 6) != ".jsonl" ||
        (name.size() >= 13 && name.substr(name.size() - 13) == ".events.jsonl")) {
      continue;
    }
    std::string path = join_path(sessions, name);
    FileTime modified = modified_time(path);
    kept.push_back({std::move(path), modified});
  }
  // Newest first; files with equal times keep the order of the listing.
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Candidate& a, const Candidate& b) { return a.modified > b.modified; });
  if (kept.empty()) return std::nullopt;
  return path_text(kept.front().path);
}

// The first present of the element's "content", "text", "message" members.
const Json* message_body(const Json& element) {
  for (std::string_view name : {"content", "text", "message"}) {
    if (const Json* value = member(element, name)) return value;
  }
  return nullptr;
}

// The role of a chat message, lower-cased: "role", or "type" when there is no "role";
// nothing unless that is a string. Only ASCII is folded: no other character lower-cases
// into the letters of "user" or "assistant", so the comparisons come out the same.
std::optional<std::string> message_role(const Json& element) {
  const Json* role = member(element, "role");
  if (role == nullptr) role = member(element, "type");
  if (role == nullptr || !role->is_string()) return std::nullopt;
  return ascii::lower(role->get_ref<const std::string&>());
}

// "/turn/messages", else "messages", when it is a non-empty array.
const Json* message_list(const Json& payload) {
  const Json* list = at_pointer(payload, "/turn/messages");
  if (list == nullptr) list = member(payload, "messages");
  if (list == nullptr || !list->is_array() || list->empty()) return nullptr;
  return list;
}

std::optional<std::string> last_user_in_messages(const Json& payload) {
  const Json* list = message_list(payload);
  if (list == nullptr) return std::nullopt;
  for (auto it = list->rbegin(); it != list->rend(); ++it) {
    if (message_role(*it) != "user") continue;
    if (auto text = text_from_value(message_body(*it))) return text;
  }
  return std::nullopt;
}

bool has_visible_text(std::string_view s) {
  return !utf8::is_blank(s);
}

// A string with something visible in it, exactly as stored.
std::optional<std::string> visible_string(const Json* value) {
  if (value == nullptr || !value->is_string()) return std::nullopt;
  const auto& s = value->get_ref<const std::string&>();
  if (!has_visible_text(s)) return std::nullopt;
  return s;
}

// The assistant's text of a content list: strings as they are, other parts by their
// "text" (or "content" when there is no "text"); blank parts dropped, none trimmed.
std::optional<std::string> assistant_parts(const Json& parts) {
  std::vector<std::string> kept;
  for (const Json& part : parts) {
    const Json* text = &part;
    if (!part.is_string()) {
      text = member(part, "text");
      if (text == nullptr) text = member(part, "content");
    }
    if (auto s = visible_string(text)) kept.push_back(std::move(*s));
  }
  std::string joined = join(kept, "\n");
  if (!has_visible_text(joined)) return std::nullopt;
  return joined;
}

std::optional<std::string> reasonix_last_assistant(const Json& payload) {
  const Json* list = message_list(payload);
  if (list == nullptr) return std::nullopt;
  for (auto it = list->rbegin(); it != list->rend(); ++it) {
    const std::string role = message_role(*it).value_or("");
    if (role != "assistant" && !role.empty()) continue;
    const Json* body = message_body(*it);
    if (body == nullptr) continue;
    if (body->is_string()) {
      if (auto s = visible_string(body)) return s;
    } else if (body->is_array()) {
      if (auto s = assistant_parts(*body)) return s;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> resolve_transcript_path(std::string_view source, const Json& payload) {
  if (auto own = first_str(payload, {"transcript_path", "transcriptPath"})) return own;
  if (source == "kiro") return kiro_transcript(payload);
  if (source == "kimi") return kimi_transcript(payload);
  if (source == "cline") return cline_transcript(payload);
  if (source == "reasonix") return reasonix_transcript(payload);
  return std::nullopt;
}

std::optional<std::string> text_from_value(const Json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_string()) {
    std::string_view trimmed = utf8::trim(value->get_ref<const std::string&>());
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
  }
  if (!value->is_array()) return std::nullopt;
  std::vector<std::string> texts;
  for (const Json& element : *value) {
    const Json* text = &element;
    if (!element.is_string()) {
      // The first present of these decides; a non-string there drops the element.
      text = nullptr;
      for (std::string_view name : {"text", "content", "message"}) {
        if ((text = member(element, name)) != nullptr) break;
      }
      if (text == nullptr || !text->is_string()) continue;
    }
    std::string_view trimmed = utf8::trim(text->get_ref<const std::string&>());
    if (!trimmed.empty()) texts.emplace_back(trimmed);
  }
  std::string joined = join(texts, "\n");
  if (joined.empty()) return std::nullopt;
  return joined;
}

std::string preview_for_log(std::string_view text) {
  std::string line;
  for (std::string_view piece : text::split_white_space(text)) {
    if (!line.empty()) line.push_back(' ');
    line.append(piece);
  }
  if (text::char_count(line) <= kPreviewChars) return line;
  return std::string(text::take_chars(line, kPreviewChars)) + "\u2026";
}

std::optional<std::string> last_user_message_from_payload(std::string_view source,
                                                          std::string_view state_event,
                                                          const Json& payload,
                                                          const std::string& log_path) {
  const std::string head = "[" + std::string(source) + "] last_user_message source=";
  const std::string event = " event=" + std::string(state_event);
  auto found = [&](std::string_view how, std::string_view key, std::string text) {
    std::string line = head + std::string(how);
    if (!key.empty()) line += " key=" + std::string(key);
    debug_log(log_path, line + event + " preview=\"" + preview_for_log(text) + "\"");
    return std::optional<std::string>(std::move(text));
  };

  for (std::string_view key :
       {"last_user_message", "user_prompt", "userPrompt", "prompt", "input", "query"}) {
    if (auto text = json_scalar_to_string(member(payload, key))) return found("direct", key, *text);
  }
  for (std::string_view pointer :
       {"/prompt/text", "/prompt/content", "/user/prompt", "/user/message", "/turn/input",
        "/turn/userInput", "/turn/prompt"}) {
    if (auto text = text_from_value(at_pointer(payload, pointer))) {
      return found("nested", pointer, *text);
    }
  }
  if (state_event == "UserPromptSubmit") {
    for (std::string_view key : {"user_message", "userMessage", "message", "text", "content"}) {
      if (auto text = first_str(payload, {key})) return found("event", key, *text);
    }
  }
  if (auto text = last_user_in_messages(payload)) return found("messages", "", *text);

  debug_log(log_path, head + "missing" + event + " keys=" + join(object_keys(payload), ", "));
  return std::nullopt;
}

std::optional<std::string> resolve_last_assistant_message(std::string_view source,
                                                          const Json& payload) {
  if (auto own = json_scalar_to_string(member(payload, "last_assistant_message"))) return own;
  if (source == "kiro") return visible_string(member(payload, "assistant_response"));
  if (source == "cline") return visible_string(at_pointer(payload, "/turn/outputText"));
  if (source == "gemini") return visible_string(member(payload, "prompt_response"));
  if (source == "reasonix") return reasonix_last_assistant(payload);
  return std::nullopt;
}

}  // namespace ombrel::hook
