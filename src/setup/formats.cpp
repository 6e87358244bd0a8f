#include "formats.hpp"

#include <toml++/toml.h>

#include "json_hooks.hpp"
#include "toml_hooks.hpp"

namespace ombrel::setup {
namespace {

bool is_toml(const Agent& agent) {
  return agent.format == Format::kToml;
}

std::optional<toml::table> parse_toml(std::string_view text) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error&) {
    return std::nullopt;
  }
}

}  // namespace

Result<std::vector<Entry>> find_entries(const Agent& agent, std::string_view text) {
  if (is_toml(agent)) return find_toml_entries(text);
  auto doc = parse_json_config(text);
  if (!doc) return fail(doc.error());
  return find_json_entries(agent, doc.value());
}

Result<std::string> wired_text(const Agent& agent, std::string_view text,
                               std::string_view hook_path) {
  if (is_toml(agent)) return wire_toml(agent, text, hook_path);
  auto doc = parse_json_config(text);
  if (!doc) return fail(doc.error());
  auto changed = wire_json(agent, doc.value(), hook_path);
  if (!changed) return fail(changed.error());
  if (!changed.value()) return std::string(text);
  return dump_json_like(doc.value(), text);
}

Result<std::string> unwired_text(const Agent& agent, std::string_view text) {
  if (is_toml(agent)) return unwire_toml(text);
  auto doc = parse_json_config(text);
  if (!doc) return fail(doc.error());
  if (!unwire_json(agent, doc.value())) return std::string(text);
  return dump_json_like(doc.value(), text);
}

bool same_settings(const Agent& agent, std::string_view a, std::string_view b) {
  if (is_toml(agent)) {
    auto x = parse_toml(a), y = parse_toml(b);
    return x && y && *x == *y;
  }
  auto x = parse_json_config(a), y = parse_json_config(b);
  return x && y && x.value() == y.value();
}

bool only_skeleton(const Agent& agent, std::string_view text) {
  if (is_toml(agent)) {
    auto table = parse_toml(text);
    return table && table->empty();
  }
  auto doc = parse_json_config(text);
  if (!doc) return false;
  Json skeleton = Json::object();
  for (auto key : agent.root_keys) {
    if (key == "version") skeleton["version"] = 1;
  }
  return doc.value() == skeleton || doc.value().empty();
}

}  // namespace ombrel::setup
