#include "tmux_registry.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

TEST(TmuxRegistry, LookupFollowsTheLatestReportThatNamesASession) {
  TmuxRegistry registry;
  const std::pair<const char*, std::optional<std::string>> steps[] = {
      {R"({"session_id":"x"})", std::nullopt},
      {R"({"om_tmux_session":"om-1","session_id":"a"})", "a"},
      {R"({"om_tmux_session":"om-2","session_id":"b"})", "a"},
      {R"({"om_tmux_session":"om-1","session_id":"c"})", "c"},
      {R"({"om_tmux_session":"om-1","session_id":null})", "c"},
      {R"({"om_tmux_session":"om-1","session_id":""})", "c"},
  };
  for (const auto& [report, om1] : steps) {
    registry.note_state_report(Json::parse(report));
    EXPECT_EQ(registry.agent_session("om-1"), om1) << report;
  }
  EXPECT_EQ(compact(lookup_answer(registry.agent_session("om-2"))), R"({"ai_session_id":"b"})");
  EXPECT_EQ(compact(lookup_answer(registry.agent_session("om-3"))), R"({"ai_session_id":null})");
}

}  // namespace
}  // namespace ombrel::devserver
