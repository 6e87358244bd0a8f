#include "scripts.hpp"

#include "hook_command.hpp"

namespace ombrel::setup {

std::string script_text(const Agent& agent, std::string_view hook_path, std::string_view event) {
  return "#!/bin/sh\nexec " + hook_command(agent, hook_path, event) + "\n";
}

std::optional<std::string> our_script_program(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (!line.starts_with("#")) {
      if (auto program = our_hook_program(line)) return program;
    }
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace ombrel::setup
