#include "approvals.hpp"

#include <gtest/gtest.h>

#include <future>

namespace ombrel::devserver {
namespace {

ApprovalRequest in_session(const std::string& session) {
  ApprovalRequest request;
  request.session_id = session;
  return request;
}

TEST(ApprovalBoard, WithdrawReleasesOnlyThatSessionsPendingApprovals) {
  ApprovalBoard board;
  int observed = 0;
  board.set_release_observer([&] { ++observed; });
  for (std::uint64_t id : {1, 2, 3, 4})
    ASSERT_TRUE(board.open(id, in_session(id == 2 ? "b" : "a")));
  ASSERT_TRUE(board.decide(4, {"allow", "", "r"}));
  auto waiter = std::async(std::launch::async, [&] { return board.wait(1); });

  EXPECT_EQ(board.withdraw_session("a"), (std::vector<std::uint64_t>{1, 3}));
  EXPECT_EQ(waiter.get().release, Release::Withdrawn);
  EXPECT_FALSE(board.decide(3, {"allow", "", "r"}));
  EXPECT_TRUE(board.is_pending(2));
  EXPECT_EQ(board.wait(4).decision.behavior, "allow");
  EXPECT_EQ(observed, 1);
}

TEST(ApprovalBoard, CloseReleasesWaitersAndRefusesNewApprovals) {
  ApprovalBoard board;
  ASSERT_TRUE(board.open(1, in_session("a")));
  auto waiter = std::async(std::launch::async, [&] { return board.wait(1); });
  auto prompt = std::async(std::launch::async, [&] { return board.next_to_prompt(); });
  EXPECT_EQ(board.close(), 1u);
  EXPECT_EQ(waiter.get().release, Release::ShuttingDown);
  EXPECT_FALSE(prompt.get());
  EXPECT_FALSE(board.open(2, in_session("a")));
}

TEST(ApprovalBoard, PromptsInTheOrderShownSkippingReleased) {
  ApprovalBoard board;
  for (std::uint64_t id : {5, 6, 7})
    ASSERT_TRUE(board.open(id, in_session("s" + std::to_string(id))));
  board.show(7);
  board.show(5);
  board.show(6);
  board.withdraw_session("s5");
  EXPECT_EQ(board.next_to_prompt()->id, 7u);
  EXPECT_EQ(board.next_to_prompt()->id, 6u);
}

}  // namespace
}  // namespace ombrel::devserver
