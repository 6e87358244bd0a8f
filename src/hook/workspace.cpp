#include "workspace.hpp"

#include "text.hpp"
#include "util.hpp"

namespace ombrel::hook {
namespace {

struct Candidate {
  bool pointer;  // a JSON Pointer rather than a top-level member name
  std::string_view where;
};

// Where agents name their working directory, in order of precedence.
constexpr Candidate kCandidates[] = {
    {false, "cwd"},
    {false, "path"},
    {false, "project_path"},
    {false, "projectPath"},
    {false, "workspace"},
    {false, "workspaceRoot"},
    {false, "workspace_root"},
    {false, "workspace_dir"},
    {false, "workspaceDir"},
    {false, "root"},
    {true, "/project/path"},
    {true, "/project/root"},
    {true, "/project/cwd"},
    {true, "/workspaceFolder/path"},
    {true, "/workspaceFolder/uri"},
    {true, "/workspace_folder/path"},
    {true, "/workspace_folder/uri"},
    {false, "workspace_roots"},
    {false, "workspaceRoots"},
    {false, "workspaceFolders"},
    {false, "workspace_folders"},
};

// The members of a workspace object that may name its directory; "name" and the like
// never do.
constexpr std::string_view kObjectMembers[] = {
    "path", "uri", "cwd", "root", "workspace", "workspaceRoot", "workspace_root",
};

std::optional<std::string> path_from_string(std::string_view value) {
  std::string_view path = utf8::trim(value);
  if (path.empty()) return std::nullopt;
  constexpr std::string_view kScheme = "file://";
  constexpr std::string_view kLocalhost = "localhost";
  if (path.substr(0, kScheme.size()) == kScheme) {
    path.remove_prefix(kScheme.size());
    if (path.substr(0, kLocalhost.size()) == kLocalhost) path.remove_prefix(kLocalhost.size());
    // A bare "file://" or "file://localhost" names no directory: an empty cwd would only
    // hide a usable candidate further down the list.
    if (path.empty()) return std::nullopt;
  }
  return std::string(path);
}

}  // namespace

std::optional<std::string> workspace_path_from_value(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return path_from_string(value.get_ref<const std::string&>());
    case Json::value_t::array:
      for (const Json& element : value) {
        if (auto path = workspace_path_from_value(element)) return path;
      }
      return std::nullopt;
    case Json::value_t::object:
      for (std::string_view name : kObjectMembers) {
        const Json* found = member(value, name);
        if (found == nullptr) continue;
        if (auto path = workspace_path_from_value(*found)) return path;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

Json cwd_from_payload(const Json& payload) {
  for (const Candidate& candidate : kCandidates) {
    const Json* value =
        candidate.pointer ? at_pointer(payload, candidate.where) : member(payload, candidate.where);
    if (value == nullptr) continue;
    if (auto path = workspace_path_from_value(*value)) return *path;
  }
  return nullptr;
}

}  // namespace ombrel::hook
