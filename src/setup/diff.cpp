#include "diff.hpp"

#include <algorithm>
#include <vector>

namespace ombrel::setup {
namespace {

constexpr std::size_t kContext = 3;

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

struct Op {
  char kind;  // ' ', '-', '+'
  std::string_view line;
  std::size_t a, b;  // line numbers (0-based) on each side before this op
};

// The edit script from the longest common subsequence of the lines.
std::vector<Op> edit_script(const std::vector<std::string_view>& a,
                            const std::vector<std::string_view>& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::uint32_t>> lcs(n + 1, std::vector<std::uint32_t>(m + 1, 0));
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  std::vector<Op> ops;
  std::size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      ops.push_back({' ', a[i], i, j});
      ++i, ++j;
    } else if (j < m && (i == n || lcs[i][j + 1] >= lcs[i + 1][j])) {
      ops.push_back({'+', b[j], i, j});
      ++j;
    } else {
      ops.push_back({'-', a[i], i, j});
      ++i;
    }
  }
  return ops;
}

std::string range(std::size_t start, std::size_t count) {
  // A side with no lines in the hunk names the line before it.
  const std::size_t first = count == 0 ? start : start + 1;
  return std::to_string(first) + "," + std::to_string(count);
}

}  // namespace

std::string unified_diff(std::string_view from_label, std::string_view to_label,
                         std::string_view before, std::string_view after) {
  if (before == after) return "";
  const auto a = lines_of(before), b = lines_of(after);
  const auto ops = edit_script(a, b);
  std::string out = "--- " + std::string(from_label) + "\n+++ " + std::string(to_label) + "\n";
  std::vector<std::size_t> changed;
  for (std::size_t t = 0; t < ops.size(); ++t) {
    if (ops[t].kind != ' ') changed.push_back(t);
  }
  for (std::size_t c = 0; c < changed.size(); ++c) {
    const std::size_t first = changed[c];
    // Changes closer together than twice the context share one hunk.
    while (c + 1 < changed.size() && changed[c + 1] - changed[c] - 1 <= 2 * kContext) ++c;
    const std::size_t start = first >= kContext ? first - kContext : 0;
    const std::size_t end = std::min(ops.size(), changed[c] + 1 + kContext);
    std::size_t a_count = 0, b_count = 0;
    for (std::size_t t = start; t < end; ++t) {
      if (ops[t].kind != '+') ++a_count;
      if (ops[t].kind != '-') ++b_count;
    }
    out += "@@ -" + range(ops[start].a, a_count) + " +" + range(ops[start].b, b_count) + " @@\n";
    for (std::size_t t = start; t < end; ++t) {
      out.push_back(ops[t].kind);
      out.append(ops[t].line);
      if (!ops[t].line.ends_with('\n')) out += "\n\\ No newline at end of file\n";
    }
  }
  return out;
}

}  // namespace ombrel::setup
