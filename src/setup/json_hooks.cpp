#include "json_hooks.hpp"

#include "hook_command.hpp"

namespace ombrel::setup {
namespace {

std::string line_and_column(std::string_view text, std::size_t byte) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool blank_text(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The command of a handler, whichever key the agent uses for it.
const Json* handler_command(const Agent& agent, const Json& handler) {
  if (!handler.is_object()) return nullptr;
  for (std::string_view key :
       {agent.command_key, std::string_view("command"), std::string_view("bash")}) {
    auto it = handler.find(std::string(key));
    if (it != handler.end() && it->is_string()) return &*it;
  }
  return nullptr;
}

bool is_ours(const Agent& agent, const Json& handler) {
  const Json* command = handler_command(agent, handler);
  return command != nullptr && our_hook_program(command->get<std::string>()).has_value();
}

bool grouped(const Agent& agent) {
  return agent.format == Format::kJsonGroups;
}

Json desired_handler(const Agent& agent, const HookEvent& event, std::string_view hook_path) {
  Json handler = Json::object();
  if (agent.typed) handler["type"] = "command";
  if (!agent.handler_name.empty()) handler["name"] = agent.handler_name;
  handler[std::string(agent.command_key)] = hook_command(agent, hook_path, event.name);
  if (event.permission && !agent.timeout_key.empty()) {
    handler[std::string(agent.timeout_key)] = agent.permission_timeout;
  }
  return handler;
}

// Brings one handler of ours up to date, keeping whatever else the user put into it.
bool refresh(const Agent& agent, const HookEvent& event, Json& handler, const Json& want) {
  const Json before = handler;
  const std::string key = std::string(agent.command_key);
  if (!handler.contains(key)) {  // ours under another key ("command" for "bash")
    for (const char* other : {"command", "bash"}) handler.erase(other);
  }
  handler[key] = want[key];
  if (!agent.timeout_key.empty()) {
    const std::string timeout = std::string(agent.timeout_key);
    if (event.permission) handler[timeout] = want[timeout];
    if (event.no_timeout) handler.erase(timeout);
  }
  return handler != before;
}

// The handlers of ours in one event's list, as (group, handler) positions.
std::vector<std::pair<std::size_t, std::size_t>> our_positions(const Agent& agent,
                                                               const Json& list) {
  std::vector<std::pair<std::size_t, std::size_t>> found;
  for (std::size_t g = 0; g < list.size(); ++g) {
    if (!grouped(agent)) {
      if (is_ours(agent, list[g])) found.emplace_back(g, g);
      continue;
    }
    const Json& group = list[g];
    if (!group.is_object() || !group.contains("hooks") || !group["hooks"].is_array()) continue;
    for (std::size_t h = 0; h < group["hooks"].size(); ++h) {
      if (is_ours(agent, group["hooks"][h])) found.emplace_back(g, h);
    }
  }
  return found;
}

Json& handler_at(const Agent& agent, Json& list, std::pair<std::size_t, std::size_t> at) {
  return grouped(agent) ? list[at.first]["hooks"][at.second] : list[at.first];
}

}  // namespace

Result<Json> parse_json_config(std::string_view text) {
  if (blank_text(text)) return Json::object();
  try {
    Json doc = Json::parse(text);
    if (!doc.is_object()) return fail("its top level is not a JSON object");
    return doc;
  } catch (const Json::parse_error& strict) {
    std::string what = "it is not valid JSON at " + line_and_column(text, strict.byte - 1);
    if (Json::accept(text, true)) what += " (it holds comments, which setup cannot keep)";
    return fail(what);
  }
}

std::vector<Entry> find_json_entries(const Agent& agent, const Json& doc) {
  std::vector<Entry> entries;
  if (!doc.is_object() || !doc.contains("hooks") || !doc["hooks"].is_object()) return entries;
  for (const auto& [event, list] : doc["hooks"].items()) {
    if (!list.is_array()) continue;
    for (auto at : our_positions(agent, list)) {
      const Json& handler = grouped(agent) ? list[at.first]["hooks"][at.second] : list[at.first];
      Entry entry;
      entry.event = event;
      entry.command = handler_command(agent, handler)->get<std::string>();
      entry.program = our_hook_program(entry.command).value_or("");
      for (std::string_view key : {agent.timeout_key, std::string_view("timeout")}) {
        auto it = key.empty() ? handler.end() : handler.find(std::string(key));
        if (it != handler.end() && it->is_number()) {
          entry.timeout = it->get<double>();
          break;
        }
      }
      if (grouped(agent)) {
        entry.group = at.first;
        entry.handler = at.second;
      } else {
        entry.handler = at.first;
      }
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

Result<bool> wire_json(const Agent& agent, Json& doc, std::string_view hook_path) {
  bool changed = false;
  if (!doc.contains("hooks")) {
    for (auto key : agent.root_keys) {
      if (key == "version" && !doc.contains("version")) {
        doc["version"] = 1;
        changed = true;
      }
    }
    doc["hooks"] = Json::object();
  }
  Json& hooks = doc["hooks"];
  if (!hooks.is_object()) return fail("its \"hooks\" member is not an object");
  for (const HookEvent& event : agent.events) {
    const std::string name(event.name);
    if (!hooks.contains(name)) hooks[name] = Json::array();
    Json& list = hooks[name];
    if (!list.is_array()) return fail("its \"hooks\".\"" + name + "\" member is not a list");
    const Json want = desired_handler(agent, event, hook_path);
    const auto ours = our_positions(agent, list);
    for (auto at : ours)
      changed = refresh(agent, event, handler_at(agent, list, at), want) || changed;
    if (!ours.empty()) continue;
    if (grouped(agent)) {
      Json group = Json::object();
      if (event.matched && !agent.matcher.empty()) group["matcher"] = agent.matcher;
      group["hooks"] = Json::array({want});
      list.push_back(std::move(group));
    } else {
      list.push_back(want);
    }
    changed = true;
  }
  return changed;
}

bool unwire_json(const Agent& agent, Json& doc) {
  if (!doc.contains("hooks") || !doc["hooks"].is_object()) return false;
  Json& hooks = doc["hooks"];
  bool changed = false;
  std::vector<std::string> emptied;
  for (auto& [event, list] : hooks.items()) {
    if (!list.is_array()) continue;
    bool touched = false;
    for (std::size_t g = list.size(); g-- > 0;) {
      if (!grouped(agent)) {
        if (is_ours(agent, list[g])) {
          list.erase(g);
          touched = true;
        }
        continue;
      }
      Json& group = list[g];
      if (!group.is_object() || !group.contains("hooks") || !group["hooks"].is_array()) continue;
      Json& handlers = group["hooks"];
      bool mine = false;
      for (std::size_t h = handlers.size(); h-- > 0;) {
        if (is_ours(agent, handlers[h])) {
          handlers.erase(h);
          mine = true;
        }
      }
      if (mine && handlers.empty()) list.erase(g);
      touched = touched || mine;
    }
    if (touched && list.empty()) emptied.push_back(event);
    changed = changed || touched;
  }
  for (const auto& event : emptied) hooks.erase(event);
  if (changed && hooks.empty()) doc.erase("hooks");
  return changed;
}

std::string dump_json_like(const Json& doc, std::string_view original) {
  int width = 2;
  char fill = ' ';
  const std::size_t line = original.find('\n');
  if (line != std::string_view::npos && line + 1 < original.size()) {
    const std::size_t start = line + 1;
    const std::size_t end = original.find_first_not_of(" \t", start);
    if (end != std::string_view::npos && end > start) {
      fill = original[start];
      width = static_cast<int>(end - start);
    }
  }
  std::string text = doc.dump(width, fill);
  const bool final_newline = blank_text(original) || original.ends_with('\n');
  if (final_newline) text.push_back('\n');
  return text;
}

}  // namespace ombrel::setup
