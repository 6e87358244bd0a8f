#include "hook_command.hpp"

namespace ombrel::setup {
namespace {

bool safe_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("/._-+:@%,=").find(c) != std::string_view::npos;
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// Reads one shell word from text at `at`; nothing when a quote is left open.
std::optional<std::string> read_word(std::string_view text, std::size_t& at) {
  while (at < text.size() && blank(text[at])) ++at;
  std::string word;
  bool any = false;
  while (at < text.size() && !blank(text[at]) && text[at] != '\n' && text[at] != ';') {
    const char c = text[at++];
    any = true;
    if (c == '\'') {
      const std::size_t end = text.find('\'', at);
      if (end == std::string_view::npos) return std::nullopt;
      word.append(text.substr(at, end - at));
      at = end + 1;
    } else if (c == '"') {
      for (;;) {
        if (at >= text.size()) return std::nullopt;
        const char d = text[at++];
        if (d == '"') break;
        if (d == '\\' && at < text.size() &&
            std::string_view("\"\\$`").find(text[at]) != std::string_view::npos) {
          word.push_back(text[at++]);
        } else {
          word.push_back(d);
        }
      }
    } else if (c == '\\' && at < text.size()) {
      word.push_back(text[at++]);
    } else {
      word.push_back(c);
    }
  }
  if (!any) return std::nullopt;
  return word;
}

}  // namespace

std::string shell_quote(std::string_view word) {
  bool plain = !word.empty();
  for (char c : word) plain = plain && safe_char(c);
  if (plain) return std::string(word);
  std::string out = "'";
  for (char c : word) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

std::string hook_command(const Agent& agent, std::string_view hook_path, std::string_view event) {
  std::string command = shell_quote(hook_path) + " --source " + std::string(agent.source);
  if (agent.pass_event) command += " --event " + std::string(event);
  return command;
}

std::optional<std::string> command_program(std::string_view command) {
  std::size_t at = 0;
  auto word = read_word(command, at);
  if (word && *word == "exec") word = read_word(command, at);
  return word;
}

std::optional<std::string> our_hook_program(std::string_view command) {
  auto program = command_program(command);
  if (!program) return std::nullopt;
  const std::size_t slash = program->rfind('/');
  const std::string_view base = slash == std::string::npos
                                    ? std::string_view(*program)
                                    : std::string_view(*program).substr(slash + 1);
  if (base != kHookName) return std::nullopt;
  return program;
}

}  // namespace ombrel::setup
