#include "util.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook {
namespace {

Json j(const char* text) {
  return Json::parse(text);
}

TEST(Util, ScalarToString) {
  struct Case {
    const char* json;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {R"("x")", "x"},       {R"("")", ""},        {"42", "42"},
      {"-1", "-1"},          {"1.5", "1.5"},       {"3.0", "3.0"},
      {"true", "true"},      {"false", "false"},   {"null", std::nullopt},
      {"[1]", std::nullopt}, {"{}", std::nullopt}, {"18446744073709551615", "18446744073709551615"},
  };
  for (const auto& c : cases) EXPECT_EQ(json_scalar_to_string(j(c.json)), c.want) << c.json;
}

TEST(Util, FirstStrSkipsUnusableMembers) {
  struct Case {
    const char* json;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {R"({"a":null,"b":"x"})", "x"}, {R"({"a":{},"b":[1],"c":7})", "7"},
      {R"({"a":"","b":"x"})", ""},    {R"({"d":"x"})", std::nullopt},
      {R"(["a"])", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(first_str(j(c.json), {"a", "b", "c"}), c.want) << c.json;
}

TEST(Util, ObjectKeysAreSorted) {
  EXPECT_EQ(object_keys(j(R"({"b":1,"a":2,"B":3})")), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_TRUE(object_keys(j("[1,2]")).empty());
}

TEST(Util, JsonPointer) {
  Json doc = j(R"({"a":{"b":[10,{"c":"x"}]},"m~n":{"p/q":1},"":{"":2}})");
  struct Case {
    const char* pointer;
    std::optional<std::string> want;  // the value's text, nothing when not found
  };
  const Case cases[] = {
      {"/a/b/0", "10"}, {"/a/b/1/c", "\"x\""}, {"/m~0n/p~1q", "1"}, {"//", "2"}, {"/a/b/2", {}},
      {"/a/b/01", {}},  {"/a/b/-", {}},        {"/a/x", {}},        {"a", {}},   {"/a/b/0/z", {}},
  };
  for (const auto& c : cases) {
    const Json* found = at_pointer(doc, c.pointer);
    if (!c.want) {
      EXPECT_EQ(found, nullptr) << c.pointer;
    } else {
      ASSERT_NE(found, nullptr) << c.pointer;
      EXPECT_EQ(to_json_text(*found), *c.want) << c.pointer;
    }
  }
}

TEST(Util, StableJsonIsCanonical) {
  EXPECT_EQ(stable_json(j(R"({"b":1,"a":{"d":[1,"t\tx"],"c":null}})")),
            R"({"a":{"c":null,"d":[1,"t\tx"]},"b":1})");
  EXPECT_EQ(stable_json(j(R"({"b":1,"a":2})")), stable_json(j(R"({"a":2,"b":1})")));
}

TEST(Util, SipHash13MatchesReferenceVectors) {
  // Reference: CPython's bytes hash with PYTHONHASHSEED=0 (zero-key SipHash-1-3).
  struct Case {
    std::string data;
    std::uint64_t want;
  };
  std::string all64;
  for (int i = 0; i < 64; ++i) all64.push_back(static_cast<char>(i));
  const Case cases[] = {
      {"a", 0x407448d2b89b1813ULL},        {"abcdefg", 0x6db12aae9070f506ULL},
      {"abcdefgh", 0x3f7b849c0b8e35eaULL}, {"abcdefghijklmnopq", 0x61c47e6da27eacccULL},
      {all64, 0x75e05fd5bbc870c6ULL},
  };
  for (const auto& c : cases) EXPECT_EQ(siphash13(c.data), c.want) << c.data.size();
}

TEST(Util, ToolUseIdFromThePayload) {
  struct Case {
    const char* name;
    const char* payload;
    std::string want;  // JSON text of the result
  };
  const Case cases[] = {
      {"tool_use_id first", R"({"tool_use_id":"t","generation_id":"g"})", R"("t")"},
      {"null member ends the search", R"({"tool_use_id":null,"generation_id":"g"})", "null"},
      {"generation id", R"({"generation_id":"g","toolUseId":"u"})", R"("g")"},
      {"camel case", R"({"toolUseId":"u","tool_call":{"id":"c"}})", R"("u")"},
      {"tool call pointer", R"({"tool_call":{"id":"c"},"tool_result":{"id":"r"}})", R"("c")"},
      {"tool result pointer", R"({"tool_call":{},"tool_result":{"id":"r"}})", R"("r")"},
      {"timestamp number becomes text", R"({"timestamp":1700000000123})", R"("1700000000123")"},
      {"object id copied", R"({"tool_use_id":{"x":[1]}})", R"({"x":[1]})"},
      {"none", R"({"session_id":"s"})", "null"},
      {"not an object", R"([1,2])", "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_json_text(tool_use_id(j(c.payload))), c.want) << c.name;
}

TEST(Util, ToolUseIdSynthesised) {
  // Expected hashes computed independently (CPython, PYTHONHASHSEED=0) over
  // session NUL turn NUL tool NUL input 0xFF.
  struct Case {
    const char* name;
    const char* payload;
    const char* tool;
    const char* want;
  };
  const Case cases[] = {
      {"session only", R"({"session_id":"s1"})", "Bash", "s1:-:Bash:8faedd8d32d9"},
      {"turn and canonical input",
       R"({"session_id":"abc","turn_id":"t7","tool_input":{"b":2,"a":"x\ty"}})", "Write",
       "abc:t7:Write:32f7bd98887b"},
      {"defaults and empty tool", R"({})", "", "default:-::9812a3fcfc57"},
      {"scalar fallbacks and toolInput",
       R"({"conversation_id":5,"turnId":true,"toolInput":[1,"é"]})", "Edit",
       "5:true:Edit:ca64a5f02c81"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tool_use_id(j(c.payload), std::string_view(c.tool)), Json(c.want)) << c.name;
  }
  // The member order of the input does not change the id.
  EXPECT_EQ(tool_use_id(j(R"({"tool_input":{"a":1,"b":2}})"), "T"),
            tool_use_id(j(R"({"tool_input":{"b":2,"a":1}})"), "T"));
  // An explicit id still wins over synthesis.
  EXPECT_EQ(tool_use_id(j(R"({"tool_use_id":"x"})"), "Bash"), Json("x"));
}

}  // namespace
}  // namespace ombrel::hook
