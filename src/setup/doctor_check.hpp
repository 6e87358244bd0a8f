// One row of `ombrel doctor`: what was checked, how it came out and, when it failed, what the
// user can do about it. The table and the JSON for scripts are two views of the same rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ombrel::doctor {

enum class Verdict {
  kPass,
  kFail,
  kInfo,  // worth knowing, never a failure (inside tmux or not, an agent that is absent)
};

struct Check {
  std::string subject;  // "" for the machine-wide rows, else the agent's name
  std::string name;     // what was checked, e.g. "desktop reachable"
  Verdict verdict = Verdict::kPass;
  std::string detail;  // what was found
  std::string fix;     // what to do; only for kFail
};

Check pass(std::string name, std::string detail);
Check info(std::string name, std::string detail);
Check failure(std::string name, std::string detail, std::string fix);

// 0 when no row failed, else 1.
int exit_status(const std::vector<Check>& checks);

// The table for a person: "✓ name  detail", and under each ✗ the fix.
std::string render_table(const std::vector<Check>& checks);

// {"ok": bool, "checks": [{"subject", "name", "status": "pass"|"fail"|"info", "detail",
//  "fix"}]}; "subject" is null for the machine-wide rows, "fix" null unless the row failed.
std::string render_json(const std::vector<Check>& checks);

std::string_view verdict_name(Verdict verdict);

}  // namespace ombrel::doctor
