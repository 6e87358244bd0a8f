// The part of the process environment that setup reads, as a value: the program fills it from
// its own environment, tests build their own, and nothing reads getenv behind its back.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ombrel::setup {

struct Env {
  std::map<std::string, std::string, std::less<>> vars;

  // A variable that is set and not empty.
  std::optional<std::string> get(std::string_view name) const {
    auto it = vars.find(name);
    if (it == vars.end() || it->second.empty()) return std::nullopt;
    return it->second;
  }
  std::string home() const { return get("HOME").value_or("/"); }

  static Env from_process();
};

}  // namespace ombrel::setup
