#include "toml_hooks.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "hook_command.hpp"

namespace ombrel::setup {
namespace {

struct Table {
  Entry entry;
  std::size_t first = 0, last = 0;  // its lines, 0-based, [first, last)
};

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(at));
      break;
    }
    lines.emplace_back(text.substr(at, end - at + 1));
    at = end + 1;
  }
  return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line;
  return out;
}

bool blank_or_comment(std::string_view line) {
  const std::size_t at = line.find_first_not_of(" \t\r\n");
  return at == std::string_view::npos || line[at] == '#';
}

// Every line a table header starts on: where a table of ours ends.
void collect_headers(const toml::table& table, std::set<std::size_t>& lines) {
  for (const auto& [key, node] : table) {
    if (const toml::table* sub = node.as_table(); sub != nullptr && !sub->is_inline()) {
      lines.insert(sub->source().begin.line - 1);
      collect_headers(*sub, lines);
    } else if (const toml::array* list = node.as_array()) {
      for (const auto& element : *list) {
        if (const toml::table* sub = element.as_table(); sub != nullptr && !sub->is_inline()) {
          lines.insert(sub->source().begin.line - 1);
          collect_headers(*sub, lines);
        }
      }
    }
  }
}

std::string toml_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

std::vector<std::string> table_lines(const Agent& agent, const HookEvent& event,
                                     std::string_view hook_path) {
  std::vector<std::string> lines = {
      "[[hooks]]\n", "event = " + toml_string(event.name) + "\n",
      "command = " + toml_string(hook_command(agent, hook_path, event.name)) + "\n"};
  if (event.permission)
    lines.push_back("timeout = " + std::to_string(agent.permission_timeout) + "\n");
  return lines;
}

// The file's tables, or where and why it is not TOML, in the words the user is shown.
Result<toml::table> parse_toml(std::string_view text) {
  try {
    return toml::parse(text);
  } catch (const toml::parse_error& error) {
    std::ostringstream what;
    what << "it is not valid TOML at line " << error.source().begin.line << ", column "
         << error.source().begin.column << " (" << error.description() << ")";
    return fail(what.str());
  }
}

Result<std::vector<Table>> our_tables(std::string_view text) {
  auto parsed = parse_toml(text);
  if (!parsed) return fail(parsed.error());
  const toml::table& root = parsed.value();
  std::vector<Table> tables;
  const toml::node* hooks = root.get("hooks");
  if (hooks == nullptr) return tables;
  const toml::array* list = hooks->as_array();
  if (list == nullptr) return fail("its `hooks` is not a list of [[hooks]] tables");
  std::set<std::size_t> headers;
  collect_headers(root, headers);
  const std::size_t line_count = split_lines(text).size();
  for (const auto& element : *list) {
    const toml::table* table = element.as_table();
    if (table == nullptr || table->is_inline()) {
      return fail("its `hooks` is written inline (hooks = [...]); setup appends [[hooks]] tables");
    }
    const auto command = (*table)["command"].value<std::string>();
    if (!command || !our_hook_program(*command)) continue;
    Table found;
    found.entry.event = (*table)["event"].value<std::string>().value_or("");
    found.entry.command = *command;
    found.entry.program = *our_hook_program(*command);
    if (auto timeout = (*table)["timeout"].value<double>()) found.entry.timeout = *timeout;
    found.first = table->source().begin.line - 1;
    auto next = headers.upper_bound(found.first);
    found.last = next == headers.end() ? line_count : *next;
    tables.push_back(std::move(found));
  }
  return tables;
}

// A table's lines without the comments and blank lines before the next header, which belong
// to what follows.
std::size_t own_end(const std::vector<std::string>& lines, const Table& table) {
  std::size_t end = std::min(table.last, lines.size());
  while (end > table.first + 1 && blank_or_comment(lines[end - 1])) --end;
  return end;
}

}  // namespace

Result<std::vector<Entry>> find_toml_entries(std::string_view text) {
  auto tables = our_tables(text);
  if (!tables) return fail(tables.error());
  std::vector<Entry> entries;
  for (auto& table : tables.value()) entries.push_back(std::move(table.entry));
  return entries;
}

Result<std::vector<Entry>> find_codex_toml_entries(std::string_view text) {
  auto parsed = parse_toml(text);
  if (!parsed) return fail(parsed.error());
  const toml::table& root = parsed.value();
  std::vector<Entry> entries;
  const toml::table* hooks = root["hooks"].as_table();
  if (hooks == nullptr) return entries;
  for (const auto& [event, node] : *hooks) {
    const toml::array* groups = node.as_array();  // `state` and other tables are not events
    if (groups == nullptr) continue;
    for (std::size_t g = 0; g < groups->size(); ++g) {
      const toml::table* group = (*groups)[g].as_table();
      const toml::array* handlers = group != nullptr ? (*group)["hooks"].as_array() : nullptr;
      if (handlers == nullptr) continue;
      for (std::size_t h = 0; h < handlers->size(); ++h) {
        const toml::table* handler = (*handlers)[h].as_table();
        const auto command =
            handler != nullptr ? (*handler)["command"].value<std::string>() : std::nullopt;
        if (!command || !our_hook_program(*command)) continue;
        Entry entry;
        entry.event = std::string(event.str());
        entry.command = *command;
        entry.program = *our_hook_program(*command);
        if (auto timeout = (*handler)["timeout"].value<double>()) entry.timeout = *timeout;
        entry.group = g;
        entry.handler = h;
        entries.push_back(std::move(entry));
      }
    }
  }
  return entries;
}

Result<std::string> wire_toml(const Agent& agent, std::string_view text,
                              std::string_view hook_path) {
  auto tables = our_tables(text);
  if (!tables) return fail(tables.error());
  std::vector<std::string> lines = split_lines(text);
  std::vector<std::string> appended;
  // Replaced from the last table up, so that earlier line numbers stay right.
  auto found = tables.value();
  std::sort(found.begin(), found.end(),
            [](const Table& a, const Table& b) { return a.first > b.first; });
  for (const HookEvent& event : agent.events) {
    bool present = false;
    for (const Table& table : found) present = present || table.entry.event == event.name;
    if (!present) {
      auto block = table_lines(agent, event, hook_path);
      appended.push_back("\n");
      appended.insert(appended.end(), block.begin(), block.end());
    }
  }
  for (const Table& table : found) {
    const HookEvent* event = nullptr;
    for (const HookEvent& e : agent.events) {
      if (e.name == table.entry.event) event = &e;
    }
    if (event == nullptr) continue;  // an event we no longer wire: left as it is
    const auto want = table_lines(agent, *event, hook_path);
    const std::size_t end = own_end(lines, table);
    const std::vector<std::string> have(lines.begin() + static_cast<long>(table.first),
                                        lines.begin() + static_cast<long>(end));
    auto with_newline = have;
    if (!with_newline.empty() && !with_newline.back().ends_with('\n')) with_newline.back() += "\n";
    if (with_newline == want) continue;
    lines.erase(lines.begin() + static_cast<long>(table.first),
                lines.begin() + static_cast<long>(end));
    auto tail = want;
    if (end == lines.size() + (end - table.first) && !have.empty() &&
        !have.back().ends_with('\n')) {
      tail.back().pop_back();  // the file ended without a newline: so does it still
    }
    lines.insert(lines.begin() + static_cast<long>(table.first), tail.begin(), tail.end());
  }
  if (!appended.empty()) {
    if (lines.empty())
      appended.erase(appended.begin());  // a new file starts with the table
    else if (!lines.back().ends_with('\n'))
      lines.back() += "\n";
    lines.insert(lines.end(), appended.begin(), appended.end());
  }
  std::string result = join_lines(lines);
  auto check = our_tables(result);
  if (!check)
    return fail("setup would have made it invalid (" + check.error() + "); nothing written");
  return result;
}

Result<std::string> unwire_toml(std::string_view text) {
  auto tables = our_tables(text);
  if (!tables) return fail(tables.error());
  std::vector<std::string> lines = split_lines(text);
  auto found = tables.value();
  std::sort(found.begin(), found.end(),
            [](const Table& a, const Table& b) { return a.first > b.first; });
  for (const Table& table : found) {
    std::size_t first = table.first;
    const std::size_t end = own_end(lines, table);
    // The blank line setup put before the table goes with it.
    if (first > 0 && lines[first - 1] == "\n") --first;
    lines.erase(lines.begin() + static_cast<long>(first), lines.begin() + static_cast<long>(end));
  }
  return join_lines(lines);
}

}  // namespace ombrel::setup
