#include "doctor_check.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace ombrel::doctor {

Check pass(std::string name, std::string detail) {
  return Check{"", std::move(name), Verdict::kPass, std::move(detail), ""};
}

Check info(std::string name, std::string detail) {
  return Check{"", std::move(name), Verdict::kInfo, std::move(detail), ""};
}

Check failure(std::string name, std::string detail, std::string fix) {
  return Check{"", std::move(name), Verdict::kFail, std::move(detail), std::move(fix)};
}

int exit_status(const std::vector<Check>& checks) {
  const bool failed = std::any_of(checks.begin(), checks.end(),
                                  [](const Check& c) { return c.verdict == Verdict::kFail; });
  return failed ? 1 : 0;
}

std::string_view verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "pass";
    case Verdict::kFail:
      return "fail";
    case Verdict::kInfo:
      return "info";
  }
  return "info";
}

namespace {

std::string_view mark(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "\u2713";  // ✓
    case Verdict::kFail:
      return "\u2717";  // ✗
    case Verdict::kInfo:
      return "\u00b7";  // ·
  }
  return " ";
}

std::string label(const Check& check) {
  return check.subject.empty() ? check.name : check.subject + ": " + check.name;
}

}  // namespace

std::string render_table(const std::vector<Check>& checks) {
  std::size_t width = 0;
  for (const Check& c : checks) width = std::max(width, label(c).size());
  std::string out;
  for (const Check& c : checks) {
    const std::string name = label(c);
    out.append(mark(c.verdict)).append(" ").append(name);
    out.append(width - name.size() + 2, ' ').append(c.detail).append("\n");
    if (c.verdict == Verdict::kFail && !c.fix.empty()) {
      out.append(width + 4, ' ').append("\u2192 ").append(c.fix).append("\n");
    }
  }
  const int failed = static_cast<int>(std::count_if(
      checks.begin(), checks.end(), [](const Check& c) { return c.verdict == Verdict::kFail; }));
  out.append(failed == 0
                 ? "All checks passed.\n"
                 : std::to_string(failed) + (failed == 1 ? " check" : " checks") + " failed.\n");
  return out;
}

std::string render_json(const std::vector<Check>& checks) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const Check& c : checks) {
    nlohmann::ordered_json row;
    row["subject"] =
        c.subject.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(c.subject);
    row["name"] = c.name;
    row["status"] = verdict_name(c.verdict);
    row["detail"] = c.detail;
    row["fix"] =
        c.verdict == Verdict::kFail ? nlohmann::ordered_json(c.fix) : nlohmann::ordered_json();
    rows.push_back(std::move(row));
  }
  nlohmann::ordered_json doc;
  doc["ok"] = exit_status(checks) == 0;
  doc["checks"] = std::move(rows);
  // Replace invalid UTF-8 (a path is bytes) rather than throw.
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace ombrel::doctor
