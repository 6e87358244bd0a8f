// One hook entry of ours as found in an agent's file, whatever its format.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ombrel::setup {

struct Entry {
  std::string event;
  std::string command;                 // the whole command as written
  std::string program;                 // its program: the hook's path as written
  std::optional<double> timeout;       // as written, in the agent's unit
  std::optional<std::size_t> group;    // index in the event's list (grouped formats)
  std::optional<std::size_t> handler;  // index in the group's hooks, or in a flat list
};

}  // namespace ombrel::setup
