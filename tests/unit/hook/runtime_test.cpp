#include "runtime.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

TEST(Runtime, ParseArgs) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Options want;
  };
  const Case cases[] = {
      {"value and switch",
       {"hook", "--source", "--event", "Stop"},
       {{"source", "true"}, {"event", "Stop"}}},
      {"positional ignored", {"hook", "gemini", "--source"}, {{"source", "true"}}},
      {"last value wins", {"hook", "--source", "a", "--source", "b"}, {{"source", "b"}}},
      {"kebab to camel", {"hook", "--session-id", "x"}, {{"sessionId", "x"}}},
      {"leading dash of the name", {"hook", "---a", "b"}, {{"A", "b"}}},
      {"bare double dash", {"hook", "--", "v"}, {{"", "v"}}},
      {"single dash is not an option", {"hook", "-s", "x"}, {}},
      {"unicode upper case may grow", {"hook", "--a-ß", "1"}, {{"aSS", "1"}}},
      {"trailing dash", {"hook", "--a-", "1"}, {{"a", "1"}}},
      {"value may be empty", {"hook", "--source", ""}, {{"source", ""}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_args(c.args), c.want) << c.name;
}

TEST(Runtime, LogTimestamp) {
  using namespace std::chrono;
  EXPECT_EQ(log_timestamp(system_clock::time_point(milliseconds(1700000000042))),
            "1700000000.042Z");
  EXPECT_EQ(log_timestamp(system_clock::time_point(microseconds(5999999))), "5.999Z");
  EXPECT_EQ(log_timestamp(system_clock::time_point(seconds(-5))), "0.000Z");
}

TEST(Runtime, JoinPath) {
  EXPECT_EQ(join_path("/home/me", ".ombrel/hook.log"), "/home/me/.ombrel/hook.log");
  EXPECT_EQ(join_path("/", ".ombrel/hook.log"), "/.ombrel/hook.log");
  EXPECT_EQ(join_path("", ".ombrel/hook.log"), ".ombrel/hook.log");
}

}  // namespace
}  // namespace ombrel::hook
