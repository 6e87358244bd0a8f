#include "routes.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

TEST(Route, PostOnKnownPathsOnly) {
  EXPECT_EQ(std::get<Endpoint>(route("POST", "/permission/cancel")), Endpoint::Cancel);
  EXPECT_EQ(std::get<Endpoint>(route("POST", "/tmux/lookup")), Endpoint::TmuxLookup);
  const std::tuple<const char*, const char*, int> refused[] = {
      {"GET", "/state", 405},   {"post", "/permission", 405},
      {"POST", "/state/", 404}, {"POST", "/State", 404},
      {"GET", "/", 404},
  };
  for (const auto& [method, path, status] : refused) {
    EXPECT_EQ(std::get<Refusal>(route(method, path)).status, status) << method << " " << path;
  }
}

TEST(ParseObjectBody, OnlyObjectsOfSaneDepthPass) {
  const std::string deepest_allowed =
      "{\"a\":" + std::string(kMaxNesting - 1, '[') + std::string(kMaxNesting - 1, ']') + "}";
  const std::pair<std::string, const char*> cases[] = {
      {" {\"a\":1}\n", nullptr},
      {deepest_allowed, nullptr},
      {"", "not JSON"},
      {"{} {}", "not JSON"},
      {"\"\xff\"", "not JSON"},
      {"[1]", "JSON object"},
      {"{\"a\":" + std::string(kMaxNesting, '[') + std::string(kMaxNesting, ']') + "}",
       "too deeply"},
      {std::string(100000, '{'), "too deeply"},
  };
  for (const auto& [body, error] : cases) {
    auto parsed = parse_object_body(body);
    EXPECT_EQ(parsed.ok(), error == nullptr) << body.substr(0, 20);
    if (!parsed && error) {
      EXPECT_NE(parsed.error().find(error), std::string::npos);
    }
  }
  // Brackets and escaped quotes inside strings do not count.
  EXPECT_EQ(nesting_depth(R"({"a":"[[\"{{","b":[]})"), 2u);
}

}  // namespace
}  // namespace ombrel::devserver
