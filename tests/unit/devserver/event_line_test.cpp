#include "event_line.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

TEST(FieldValue, OneTokenOnOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"/home/ann/src", "/home/ann/src"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"ls -la", R"("ls -la")"},
      {"", R"("")"},
      {"a\nb\tc\r", R"("a\nb\tc\r")"},
      {"say \"hi\" C:\\", R"("say \"hi\" C:\\")"},
      {std::string("nul\0\x1b\x7f", 6), R"("nul\u0000\u001b\u007f")"},
      {std::string(kMaxValueChars + 1, 'x'), std::string(kMaxValueChars, 'x') + "..."},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(field_value(text), shown) << text;

  std::string accents;  // cut between characters, never inside one
  for (std::size_t i = 0; i <= kMaxValueChars; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(field_value(accents), accents.substr(0, 2 * kMaxValueChars) + "...");
}

TEST(StateLine, ShowsWhatTheReportCarries) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"source":"claude","event":"PreToolUse","tool_name":"Bash","tool_input":{"command":"make test"},
           "cwd":"/w","session_id":"s1","om_tmux_session":"om-1"})",
       R"(T [claude] PreToolUse Bash command="make test" cwd=/w session=s1 tmux=om-1)"},
      {R"({"source":"codex","event":"PostToolUse","tool_name":"Edit","tool_input":{"path":"/a.c"},"session_id":null})",
       "T [codex] PostToolUse Edit path=/a.c"},
      {R"({"source":"x\ny","event":"Stop","tool_input":null})", R"(T ["x\ny"] Stop)"},
      {"{}", "T [?] ?"},
  };
  for (const auto& [report, line] : cases) EXPECT_EQ(state_line("T", Json::parse(report)), line);
}

}  // namespace
}  // namespace ombrel::devserver
