#include "json_text.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

std::string nested(int depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(JsonText, DepthLimit) {
  EXPECT_TRUE(parse_json(nested(kMaxJsonDepth)).ok());
  auto too_deep = parse_json(nested(kMaxJsonDepth + 1));
  ASSERT_FALSE(too_deep.ok());
  EXPECT_NE(too_deep.error().find("128"), std::string::npos);
  // A hostile payload far deeper than any stack could recurse is rejected, not crashed on.
  EXPECT_FALSE(parse_json(std::string(1 << 20, '[')).ok());
  EXPECT_FALSE(parse_json_prefix(nested(kMaxJsonDepth + 1) + "tail").ok());
}

TEST(JsonText, StrictAndPrefixParsing) {
  struct Case {
    const char* name;
    std::string in;
    bool strict_ok;
    bool prefix_ok;
  };
  const Case cases[] = {
      {"white space around", " \n{\"a\":1}\t ", true, true},
      {"two documents", "{\"a\":1}{\"b\":2}", false, true},
      {"stray text after", "{\"a\":1} trailing", false, true},
      {"truncated", "{\"a\":", false, false},
      {"number overflowing a double", "[1e400]", false, false},
      {"lone low surrogate", "[\"\\udc00\"]", false, false},
      {"surrogate pair", "[\"\\ud83d\\ude00\"]", true, true},
      {"raw control character in a string", "[\"a\nb\"]", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_json(c.in).ok(), c.strict_ok) << c.name;
    EXPECT_EQ(parse_json_prefix(c.in).ok(), c.prefix_ok) << c.name;
  }
}

TEST(JsonText, WritesCompactSortedEscaped) {
  struct Case {
    const char* name;
    Json value;
    std::string want;
  };
  const Case cases[] = {
      {"members in byte order", Json::parse(R"({"b":1,"a":[true,null],"B":"x"})"),
       R"({"B":"x","a":[true,null],"b":1})"},
      {"named escapes", "\"\\\b\t\n\f\r", R"("\"\\\b\t\n\f\r")"},
      {"other controls lower-case hex", std::string("\x01\x1f", 2), R"("\u0001\u001f")"},
      {"nul", std::string("a\0b", 3), R"("a\u0000b")"},
      {"slash, DEL and non-ASCII unescaped", "/\x7f\u00e9\u20ac", "\"/\x7f\u00e9\u20ac\""},
      {"invalid UTF-8 replaced", "a\xFF", "\"a\uFFFD\""},
      {"integers", Json::parse("[-1,18446744073709551615,0]"), "[-1,18446744073709551615,0]"},
      {"floats shortest round trip", Json::parse("[1.5,3.0,0.1]"), "[1.5,3.0,0.1]"},
      {"empty containers", Json::parse(R"({"a":{},"b":[]})"), R"({"a":{},"b":[]})"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_json_text(c.value), c.want) << c.name;
}

TEST(JsonText, RoundTripsLargeStrings) {
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "line \"quoted\" \\ tab\t é €\n";
  Json value = {{"content", big}};
  auto back = parse_json(to_json_text(value));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.value(), value);
}

}  // namespace
}  // namespace ombrel::hook
