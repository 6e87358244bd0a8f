#include "json_text.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace ombrel::hook {
namespace {

using namespace std::string_literals;

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
      {"NUL and more after the value", "{\"a\":1}\0junk"s, false, true},
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
  for (const auto& c : cases) {
    EXPECT_EQ(to_json_text(c.value), c.want) << c.name;
    EXPECT_EQ(json_text_size(c.value), c.want.size()) << c.name;
  }
}

// Written in pieces, the text is the same, byte for byte, whatever falls at a window's edge.
TEST(JsonText, PiecesMakeTheSameText) {
  std::string escapes, repaired, controls;
  for (int i = 0; i < 3000; ++i) escapes += "ab\"\x01\n\u00e9x";
  // Runs of six-byte escapes of every length after plain runs of every length, so that some
  // escape ends in the last bytes of a window with another right behind it.
  for (int i = 0; i < 700; ++i)
    controls += std::string(i * 7 % 23, 'p') + std::string(1 + i % 5, '\x01');
  for (int i = 0; i < 1500; ++i) repaired += "\xFF\xC3z\t";
  const Json values[] = {
      Json{{"content", escapes}, {"n", 18446744073709551615ULL}, {"f", 0.1}},
      Json::array({repaired, escapes.substr(7), Json::object({{escapes.substr(0, 1500), 1}})}),
      Json("short"),
      Json(controls),
  };
  for (const auto& value : values) {
    for (const std::size_t piece : {std::size_t{1024}, std::size_t{1025}, std::size_t{1026},
                                    std::size_t{1027}, std::size_t{1028}, std::size_t{1029},
                                    std::size_t{1030}, std::size_t{1031}, std::size_t{1} << 20}) {
      std::string joined;
      const Status status =
          write_json_pieces(value, measure_json_text(value), piece, [&](std::string_view text) {
            EXPECT_LE(text.size(), piece);
            joined += text;
            return Status::success();
          });
      EXPECT_TRUE(status.ok());
      EXPECT_EQ(joined, to_json_text(value)) << "pieces of " << piece;
    }
  }
  int calls = 0;
  const Status failed = write_json_pieces(
      values[0], measure_json_text(values[0]), 1024,
      [&](std::string_view) { return ++calls == 2 ? Status(fail("gone")) : Status::success(); });
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(calls, 2);  // nothing more after the failure
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

namespace ombrel::hook {
namespace {

// nlohmann's verdict on a whole document, less its one slip: its lexer takes a NUL byte for
// the end of the input. No JSON text holds a raw NUL (it is neither white space nor allowed
// inside a string), so a text with one is never a document.
bool library_accepts_whole(const std::string& text) {
  return Json::accept(text) && text.find('\0') == std::string::npos;
}

// Our reader must accept exactly what nlohmann's own parser accepts, and read the same value.
void expect_same_as_library(const std::string& text, const std::string& name) {
  auto ours = parse_json(text);
  bool theirs_ok = library_accepts_whole(text);
  ASSERT_EQ(ours.ok(), theirs_ok) << name << ": " << testing::PrintToString(text)
                                  << (ours.ok() ? "" : " " + ours.error());
  if (theirs_ok) {
    Json theirs = Json::parse(text);
    EXPECT_EQ(ours.value(), theirs) << name;
    EXPECT_EQ(ours.value().type(), theirs.type()) << name;
    EXPECT_EQ(json_text_size(ours.value()), to_json_text(ours.value()).size()) << name;
  }
  auto ours_prefix = parse_json_prefix(text);
  Json theirs_prefix;
  bool prefix_ok = true;
  try {
    std::istringstream in(text);
    in >> theirs_prefix;  // a stream read takes the first value only
  } catch (const std::exception&) {
    prefix_ok = false;
  }
  ASSERT_EQ(ours_prefix.ok(), prefix_ok) << name << " (prefix): " << testing::PrintToString(text);
  if (prefix_ok) {
    EXPECT_EQ(ours_prefix.value(), theirs_prefix) << name << " (prefix)";
  }
}

TEST(JsonText, AgreesWithTheLibraryOnHandPickedTexts) {
  // One input per line would fill two screens: packed by hand, out of clang-format's reach.
  // clang-format off
  const std::string texts[] = {
      "0", "-0", "01", "1.", ".5", "1e", "1e+", "1E-2", "-", "--1", "1.5e308", "1e309", "-1e309",
      "1e-400", "18446744073709551615", "18446744073709551616", "-9223372036854775808",
      "-9223372036854775809", "123456789012345678901234567890", "\"\\u0000\"", "\"\\ud83d\\ude00\"",
      "\"\\ud83d\"", "\"\\ude00\"", "\"\\ud83d\\u0041\"", "\"\\uD83D\\uDE00\"", "\"\\x\"",
      "\"\\/\"", "\"\xC3\xA9\"", "\"\xC3\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"",
      "\"\xE0\x80\xAF\"", "\"\xEF\xBB\xBF\"", "\xEF\xBB\xBF{}", "\xEF\xBB{}", "{}\xEF\xBB\xBF",
      std::string("{}\0x", 4), std::string("[\0]", 3), std::string("\"a\0\"", 4), "[1,]", "[,1]",
      "{\"hook_event_name\":\"Stop\"}\0junk"s, "{}\0"s, "[1] \0 "s, "\0{}"s, "12\0003"s,
      "{\"a\":1,}", "{\"a\" 1}", "{1:2}", "{\"a\":1,\"a\":2}", "tru", "truex", "nulll",
      "[true false]", " \t\n\r[] \t\n\r", "\f[]", "[]\v", "{\"\":{\"\":[]}}", "[\"a\nb\"]",
      "[\"a\\nb\"]", "[1e400]", "[-0.0]", "[0e0]", "{}{}", "[1] x", "\"unterminated",
      "\"ends with backslash\\", "", " ", "[[[]]]", "[{\"k\":[{\"k\":null}]}]",
  };
  // clang-format on
  for (const auto& t : texts) expect_same_as_library(t, "hand");
}

TEST(JsonText, AgreesWithTheLibraryOnGeneratedTexts) {
  const std::string pieces[] = {"{",        "}",        "[",      "]",     "\"",
                                ":",        ",",        " ",      "\n",    "\\",
                                "\\u",      "00",       "d83d",   "1",     "-",
                                "0",        ".",        "e",      "E",     "+",
                                "true",     "nul",      "\"k\":", "\"v\"", "\t",
                                "\xC3\xA9", "\xE2\x82", "\xFF",   "9e999", std::string(1, '\0')};
  std::mt19937 random(7);  // fixed seed: every run checks the same texts
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const auto length = 1 + random() % 12;
    for (unsigned k = 0; k < length; ++k) text += pieces[random() % std::size(pieces)];
    expect_same_as_library(text, "generated #" + std::to_string(round));
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace ombrel::hook
