#include "doctor_codex_trust.hpp"

#include <toml++/toml.h>

#include <array>
#include <fstream>
#include <optional>
#include <sstream>

#include "doctor_sha256.hpp"

namespace ombrel::doctor {
namespace {

using Json = nlohmann::json;

// The events whose matcher Codex looks at; for the others it is dropped before hashing.
bool uses_matcher(std::string_view event) {
  constexpr std::array<std::string_view, 4> kMatched = {"PreToolUse", "PermissionRequest",
                                                        "PostToolUse", "SessionStart"};
  for (std::string_view e : kMatched)
    if (e == event) return true;
  return false;
}

// SessionEnd and Interrupt hooks are cut to 3 s, and take 1 s when they name no timeout;
// the others take 600 s. None is below 1 s.
std::uint64_t hashed_timeout(std::string_view event, const Json& handler) {
  const bool short_event = event == "SessionEnd" || event == "Interrupt";
  std::optional<std::uint64_t> given;
  if (handler.contains("timeout") && handler["timeout"].is_number_unsigned())
    given = handler["timeout"].get<std::uint64_t>();
  if (!given) return short_event ? 1 : 600;
  const std::uint64_t at_least_one = std::max<std::uint64_t>(1, *given);
  return short_event ? std::min<std::uint64_t>(3, at_least_one) : at_least_one;
}

const Json* find_handler(const Json& file, const CodexHookPlace& place) {
  if (!file.is_object() || !file.contains("hooks") || !file["hooks"].is_object()) return nullptr;
  const Json& hooks = file["hooks"];
  if (!hooks.contains(place.event) || !hooks[place.event].is_array()) return nullptr;
  const Json& groups = hooks[place.event];
  if (place.group >= groups.size() || !groups[place.group].is_object()) return nullptr;
  const Json& group = groups[place.group];
  if (!group.contains("hooks") || !group["hooks"].is_array()) return nullptr;
  if (place.handler >= group["hooks"].size()) return nullptr;
  return &group["hooks"][place.handler];
}

std::string list_events(const std::vector<std::string>& events) {
  std::string out;
  for (const std::string& e : events) out.append(out.empty() ? "" : ", ").append(e);
  return out;
}

// config.toml parsed; a missing file is an empty table.
Result<toml::table> parse_config(const std::string& config_toml) {
  std::ifstream in(config_toml, std::ios::binary);
  if (!in) return toml::table{};
  std::stringstream text;
  text << in.rdbuf();
  try {
    return toml::parse(text.str(), config_toml);
  } catch (const toml::parse_error& e) {
    return fail(config_toml + " line " + std::to_string(e.source().begin.line) +
                " does not parse: " + std::string(e.description()));
  }
}

// The TOML values a hook is made of, as the JSON they stand for in hooks.json.
Json as_json(const toml::node& node) {
  if (const auto* t = node.as_table()) {
    Json out = Json::object();
    for (const auto& [key, value] : *t) out[std::string(key.str())] = as_json(value);
    return out;
  }
  if (const auto* a = node.as_array()) {
    Json out = Json::array();
    for (const auto& value : *a) out.push_back(as_json(value));
    return out;
  }
  if (auto text = node.value_exact<std::string>()) return *text;
  if (auto flag = node.value_exact<bool>()) return *flag;
  if (auto number = node.value_exact<std::int64_t>()) {
    if (*number >= 0) return static_cast<std::uint64_t>(*number);
    return *number;
  }
  if (auto real = node.value_exact<double>()) return *real;
  return nullptr;
}

}  // namespace

std::string codex_event_name(std::string_view event) {
  std::string out;
  for (std::size_t i = 0; i < event.size(); ++i) {
    const char c = event[i];
    if (c >= 'A' && c <= 'Z') {
      if (i > 0) out.push_back('_');
      out.push_back(static_cast<char>(c - 'A' + 'a'));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string codex_trust_key(const CodexHookPlace& place) {
  return place.file + ":" + codex_event_name(place.event) + ":" + std::to_string(place.group) +
         ":" + std::to_string(place.handler);
}

Result<std::string> codex_trust_hash(const Json& hooks_file, const CodexHookPlace& place) {
  const Json* handler = find_handler(hooks_file, place);
  if (handler == nullptr || !handler->is_object()) return fail("no handler at that place");
  if (handler->value("type", "") != "command" || !(*handler)["command"].is_string())
    return fail("not a command hook");
  Json normal = {{"type", "command"}, {"command", (*handler)["command"]}, {"async", false}};
  if (handler->contains("async") && (*handler)["async"].is_boolean())
    normal["async"] = (*handler)["async"];
  normal["timeout"] = hashed_timeout(place.event, *handler);
  if (handler->contains("statusMessage") && (*handler)["statusMessage"].is_string())
    normal["statusMessage"] = (*handler)["statusMessage"];
  Json identity = {{"event_name", codex_event_name(place.event)}, {"hooks", Json::array({normal})}};
  const Json& group = hooks_file["hooks"][place.event][place.group];
  if (uses_matcher(place.event) && group.contains("matcher") && group["matcher"].is_string())
    identity["matcher"] = group["matcher"];
  // nlohmann's json keeps its keys sorted; dump() without indent is compact, as Codex's is.
  return "sha256:" + sha256_hex(identity.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Result<Json> read_codex_hooks(const std::string& file) {
  const bool toml_file = file.size() >= 5 && file.compare(file.size() - 5, 5, ".toml") == 0;
  if (!toml_file) {
    std::ifstream in(file, std::ios::binary);
    auto parsed = Json::parse(in, nullptr, false);
    if (parsed.is_discarded()) return fail(file + " is not valid JSON");
    return parsed;
  }
  auto doc = parse_config(file);
  if (!doc) return Error{doc.error()};
  Json hooks = Json::object();
  if (const toml::table* table = doc.value()["hooks"].as_table()) {
    for (const auto& [event, groups] : *table)
      if (groups.is_array()) hooks[std::string(event.str())] = as_json(groups);
  }
  return Json{{"hooks", std::move(hooks)}};
}

Result<std::map<std::string, std::string>> read_codex_trust(const std::string& config_toml) {
  std::map<std::string, std::string> trusted;
  auto doc = parse_config(config_toml);
  if (!doc) return Error{doc.error()};
  const toml::table* state = doc.value()["hooks"]["state"].as_table();
  if (state == nullptr) return trusted;
  for (const auto& [key, value] : *state) {
    const toml::table* entry = value.as_table();
    if (entry == nullptr) continue;
    if (auto hash = (*entry)["trusted_hash"].value<std::string>())
      trusted.emplace(std::string(key.str()), *hash);
  }
  return trusted;
}

Check check_codex_trust(const std::vector<CodexHookPlace>& ours,
                        const std::map<std::string, Json>& hooks_files,
                        const std::map<std::string, std::string>& trusted) {
  if (ours.empty()) return info("trust", "not checked: no hook of ours has a known position");
  std::vector<std::string> pending;
  std::vector<std::string> changed;
  for (const CodexHookPlace& place : ours) {
    const auto stored = trusted.find(codex_trust_key(place));
    if (stored == trusted.end()) {
      pending.push_back(place.event);
      continue;
    }
    const auto file = hooks_files.find(place.file);
    if (file == hooks_files.end()) continue;
    auto now = codex_trust_hash(file->second, place);
    if (now && now.value() != stored->second) changed.push_back(place.event);
  }
  const std::string fix = "open Codex and trust the hooks in /hooks";
  if (!pending.empty()) {
    return failure("trust",
                   "trust pending for " + list_events(pending) +
                       (changed.empty() ? "" : "; changed since trusted: " + list_events(changed)),
                   fix);
  }
  if (!changed.empty()) {
    return failure("trust", "changed since trusted, so Codex skips them: " + list_events(changed),
                   fix);
  }
  return pass("trust", "all " + std::to_string(ours.size()) + " of our hooks trusted");
}

}  // namespace ombrel::doctor
