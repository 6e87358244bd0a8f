#include "recovery.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "recovery_scan.hpp"
#include "temp_dir.hpp"

namespace ombrel::hook {
namespace {

// A literal with its embedded NUL bytes.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// What the parser itself says about the value at each bracket: the slow, obvious way.
struct Verdict {
  bool parses;
  bool cursor_object;
  bool operator==(const Verdict&) const = default;
};
Verdict parser_verdict(std::string_view text, std::size_t pos) {
  auto parsed = parse_json_prefix(text.substr(pos));
  if (!parsed) return {false, false};
  return {true, parsed.value().is_object() && parsed.value().contains("cursor_version")};
}

// Every bracket position of the text must get the parser's own verdict from the scan.
template <class Scan = BracketScan>
void expect_scan_agrees(std::string_view text, const std::string& name) {
  Scan scan(text);
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] != '{' && text[pos] != '[') continue;
    const Verdict want = parser_verdict(text, pos);
    const BracketValue got = scan.value_at(pos);
    EXPECT_EQ((Verdict{got.parses, got.has_cursor_version}), want)
        << name << " at " << pos << ": " << text;
    if (got.parses && want.parses) {
      // The end must be right too: a value read elsewhere is skipped by its length.
      EXPECT_TRUE(parse_json(text.substr(pos, got.end - pos)).ok()) << name << " at " << pos;
    }
  }
}

TEST(BracketScan, AgreesWithTheParserOnTrickyTexts) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::string deep128 = repeat("[", 127) + "{}" + repeat("]", 127);
  const Case cases[] = {
      {"value followed by junk", R"({"cursor_version":1} trailing {)"},
      {"empty containers", "[] {} [{}] {\"a\":[]}"},
      {"trailing comma", R"([1,] {"a":1,} [1 2])"},
      {"missing colon or key", R"({"a" 1} {1:2} {"a":} {,})"},
      {"literals", "[true,false,null] [tru] [nulll] [truex] [True]"},
      {"numbers", "[0,-0,1.5,-1.5e10,1E+2,1e-2] [01] [-] [1.] [.5] [+1] [1e] [1e+] [-01] [0x1]"},
      {"numbers next to brackets", "[1[2]] [1,[2,[3]]] [-[1]]"},
      {"number overflow",
       "[1e308] [1e309] [-1e309] [1.7976931348623157e308] [1.7976931348623159e308]"},
      {"huge integers", "[" + repeat("9", 308) + "] [" + repeat("9", 309) + "] [" +
                            repeat("1", 309) + "] [-" + repeat("9", 400) + "]"},
      {"long fraction", "[0." + repeat("9", 400) + "] [1" + repeat("0", 300) + ".5e-300]"},
      {"escapes", R"(["\"\\\/\b\f\n\r\t"] ["\x"] ["\u00e9\u00E9"] ["\u12"] ["\u12g4"])"},
      {"surrogates",
       R"(["\ud83d\ude00"] ["\ud83d"] ["\ude00"] ["\ud83d\u0041"] ["\ud83d\n"] ["\uD83D\uDE00"])"},
      {"raw control characters", "[\"a\nb\"] [\"a\tb\"] [\"\x1f\"] [\"\x7f\"]"},
      {"nul outside and inside strings", bytes("[1,\0 2] [\"\0\"] [1]\0")},
      {"utf8 well formed",
       "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF\"]"},
      {"utf8 ill formed",
       "[\"\xC0\xAF\"] [\"\xE0\x80\x80\"] [\"\xED\xA0\x80\"] [\"\xF0\x80\x80\x80\"] "
       "[\"\xF4\x90\x80\x80\"] "
       "[\"\xF5\x80\"] [\"\x80\"] [\"\xC3\"] [\"\xE2\x82\"]"},
      {"utf8 outside strings", "[\xC3\xA9] {\"a\":1}\xC3\xA9"},
      {"white space kinds",
       "[ \t\r\n1 ] [\f1] [\v1] [\xC2\xA0"
       "1]"},
      {"brackets inside strings",
       R"({"a":"{\"cursor_version\":1}","b":"[1,2]"} ["[", "{" , "]"] "{\"x\":1}")"},
      {"quote parity flips", R"(["[", "[", "[", ""] ["x\"[\"y"])"},
      {"escaped cursor key",
       R"({"cursor\u005fversion":1} {"cursor_versio":1} {"cursor_version ":1})"},
      {"nested cursor object", R"({"a":{"cursor_version":1}} [{"cursor_version":null}])"},
      {"duplicate keys", R"({"cursor_version":1,"cursor_version":2})"},
      {"unterminated", R"({"cursor_version":1,"a":[1,2,{"b":"c")"},
      {"unterminated string", R"([[["abc)"},
      {"depth 128 parses", deep128},
      {"depth 129 fails at the outer bracket only", "[" + deep128 + "]"},
      {"deep then broken", repeat("[", 130) + repeat("]", 129) + "x"},
      {"object depth", "{\"cursor_version\":1,\"d\":" + repeat("[", 127) + repeat("]", 127) + "} " +
                           "{\"cursor_version\":1,\"d\":" + repeat("[", 128) + repeat("]", 128) +
                           "}"},
  };
  for (const auto& c : cases) {
    expect_scan_agrees(c.text, c.name);
    // Texts beyond 4 GiB take the same scan with wider positions.
    expect_scan_agrees<BasicBracketScan<std::uint64_t>>(c.text, std::string(c.name) + " (wide)");
  }
}

// Random texts from JSON-like pieces: the scan and the parser must agree everywhere.
TEST(BracketScan, AgreesWithTheParserOnGeneratedTexts) {
  const std::vector<std::string> pieces = {
      "{",
      "}",
      "[",
      "]",
      "\"",
      ":",
      ",",
      " ",
      "\n",
      "\\",
      "\\\"",
      "\\u00",
      "\\ud83d",
      "\\ude00",
      "a",
      "1",
      "-",
      "0",
      ".",
      "e",
      "1e400",
      "true",
      "nul",
      "\"cursor_version\"",
      "\"a\"",
      "\"x\":",
      "\t",
      "\xC3\xA9",
      "\xE2\x82",
      "\xFF",
      std::string(1, '\0'),
      "\"\\\"[\"",
      "{\"cursor_version\":1}",
  };
  std::mt19937 random(20240601);  // fixed: every run checks the same texts
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const std::uint32_t length = 1 + random() % 24;
    for (std::uint32_t k = 0; k < length; ++k) text += pieces[random() % pieces.size()];
    expect_scan_agrees(text, "generated #" + std::to_string(round));
    if (HasFailure()) break;  // one counterexample is enough to read
  }
}

// However hostile the text, the work stays proportional to its length; trying the parser
// at every bracket instead would be quadratic on all of these.
TEST(BracketScan, WorkIsLinearOnHostileTexts) {
  constexpr std::size_t kSize = 1 << 18;
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"open brackets", std::string(kSize, '[')},
      {"open braces with keys", repeat("{\"a\":", kSize / 5)},
      {"deep then a long unterminated list", repeat("[", 128) + repeat("1,", kSize / 2)},
      {"small objects without the key", repeat("{\"a\":1}", kSize / 7)},
      {"nested lists never closed", repeat("[[1],", kSize / 5)},
      {"strings full of brackets", "[\"" + std::string(kSize, '[') + "\"]"},
      {"unterminated strings after brackets", repeat("[\"", kSize / 2)},
      {"bracket quote pairs", repeat("[\"[\",", kSize / 5)},
      {"keys with escapes", repeat("{\"\\u0061\":", kSize / 10)},
      {"deep closed arrays", repeat("[", kSize / 2) + repeat("]", kSize / 2)},
      {"alternating kinds", repeat("[{\"a\":[{\"b\":", kSize / 12)},
  };
  for (const auto& c : cases) {
    BracketScan scan(c.text);
    EXPECT_FALSE(scan.next_cursor_object(0).has_value()) << c.name;
    EXPECT_LE(scan.work(), 4 * c.text.size()) << c.name;
  }
}

TEST(Recovery, FallbackParserFindsTheFirstCursorObject) {
  struct Case {
    const char* name;
    std::string raw;
    std::optional<std::string> want;  // compact JSON of the salvaged object
  };
  const Case cases[] = {
      {"stray text after the object", R"({"cursor_version":"1.7","hook_event_name":"stop"} oops)",
       R"({"cursor_version":"1.7","hook_event_name":"stop"})"},
      {"second of two objects", R"({"a":1}{"cursor_version":"2","b":2})",
       R"({"b":2,"cursor_version":"2"})"},
      {"first of two cursor objects", R"({"cursor_version":1}{"cursor_version":2})",
       R"({"cursor_version":1})"},
      {"nested object when the outer one is broken", R"({"x": {"cursor_version":null,"k":[1]} ,})",
       R"({"cursor_version":null,"k":[1]})"},
      {"inner object of a valid outer one without the key", R"({"a":{"cursor_version":3}})",
       R"({"cursor_version":3})"},
      {"object inside an array", R"([{"cursor_version":4}])", R"({"cursor_version":4})"},
      {"escaped key counts", R"({"cursor\u005fversion":5})", R"({"cursor_version":5})"},
      {"noise before and after", bytes("\xEF\xBB\xBF?{\"cursor_version\":6}\n\0 \xEF\xBF\xBD"),
       R"({"cursor_version":6})"},
      {"object in stray text before", R"(data: {"cursor_version":7} more)",
       R"({"cursor_version":7})"},
      {"escaped object inside a string is not an object", R"({"p":"{\"cursor_version\":1}")",
       std::nullopt},
      {"key only nested", R"({"a":{"b":{"cursor_version":1}}, junk)", R"({"cursor_version":1})"},
      {"no key anywhere", R"({"a":1} {"b":2})", std::nullopt},
      {"unterminated", R"({"cursor_version":"1","a":)", std::nullopt},
      {"overflowing number", R"({"cursor_version":1,"n":1e999})", std::nullopt},
      {"lone surrogate", R"({"cursor_version":"\udc00"})", std::nullopt},
      {"too deep", "{\"cursor_version\":1,\"d\":" + repeat("[", 128) + repeat("]", 128) + "}",
       std::nullopt},
      {"deepest allowed",
       "{\"cursor_version\":1,\"d\":" + repeat("[", 127) + repeat("]", 127) + "}",
       "{\"cursor_version\":1,\"d\":" + repeat("[", 127) + repeat("]", 127) + "}"},
      {"raw line break in a string", "{\"cursor_version\":\"1\",\"p\":\"a\nb\"}", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = parse_first_cursor_object(c.raw);
    if (!c.want) {
      EXPECT_FALSE(got.has_value()) << c.name << ": " << (got ? to_json_text(*got) : "");
    } else {
      ASSERT_TRUE(got.has_value()) << c.name;
      EXPECT_EQ(to_json_text(*got), *c.want) << c.name;
    }
  }
}

TEST(Recovery, FieldParserPicksKnownMembers) {
  const std::string base = R"("cursor_version":"1.7","hook_event_name":"stop")";
  const std::string base_json = R"("cursor_version":"1.7","hook_event_name":"stop")";
  struct Case {
    const char* name;
    std::string raw;
    std::optional<std::string> want;  // compact JSON, members in byte order
  };
  const Case cases[] = {
      {"only listed members survive a raw line break",
       "{" + base + ",\"prompt\":\"a\nb\",\"session_id\":\"s1\",\"extra\":1}",
       "{" + base_json + ",\"session_id\":\"s1\"}"},
      {"every string member",
       R"({"conversation_id":"c","generation_id":"g","model":"m","status":"ok","session_id":"s",)"
       R"("hook_event_name":"e","cursor_version":"v","user_email":"u@x","transcript_path":"/t",)"
       R"("cwd":"/w"})",
       R"({"conversation_id":"c","cursor_version":"v","cwd":"/w","generation_id":"g",)"
       R"("hook_event_name":"e","model":"m","session_id":"s","status":"ok",)"
       R"("transcript_path":"/t","user_email":"u@x"})"},
      {"numeric cursor_version is not a string", R"({"cursor_version":1,"hook_event_name":"stop"})",
       std::nullopt},
      {"no hook_event_name", R"({"cursor_version":"1"})", std::nullopt},
      {"unicode escape drops the member", "{" + base + R"(,"session_id":"a\u00e9","model":"m"})",
       "{" + base_json + R"(,"model":"m"})"},
      {"escapes decoded", "{" + base + R"(,"model":"q\"b\\s\/f\bF\fN\nR\rT\t\x\é"})",
       "{" + base_json + R"(,"model":"q\"b\\s/f\bF\fN\nR\rT\txé"})"},
      {"unterminated string skipped", "{" + base + R"(,"model":"abc)", "{" + base_json + "}"},
      {"backslash at the very end", "{" + base + ",\"model\":\"abc\\", "{" + base_json + "}"},
      {"anything between name and colon", "{" + base + R"(,"model" junk : "m"})",
       "{" + base_json + R"(,"model":"m"})"},
      {"white space after the colon", "{" + base + ",\"model\":\n\t \"m\"}",
       "{" + base_json + R"(,"model":"m"})"},
      {"value not a string", "{" + base + R"(,"model":5})", "{" + base_json + "}"},
      {"no colon after the name", "{" + base + R"(,"model")", "{" + base_json + "}"},
      {"first occurrence of the name counts", "{" + base + R"(,"note":"cwd","x":5,"cwd":"/w"})",
       "{" + base_json + "}"},
      {"integers",
       "{" + base +
           R"(,"loop_count":3,"input_tokens":-5,"output_tokens":12.5,"cache_read_tokens":3e4,)"
           R"("cache_write_tokens":007})",
       R"({"cache_read_tokens":3,"cache_write_tokens":7,"cursor_version":"1.7",)"
       R"("hook_event_name":"stop","input_tokens":-5,"loop_count":3,"output_tokens":12})"},
      {"integer as a string skipped", "{" + base + R"(,"input_tokens":"7"})",
       "{" + base_json + "}"},
      {"lone minus skipped", "{" + base + R"(,"input_tokens":-})", "{" + base_json + "}"},
      {"misplaced minus skipped", "{" + base + R"(,"input_tokens":1-2})", "{" + base_json + "}"},
      {"double minus skipped", "{" + base + R"(,"input_tokens":--1})", "{" + base_json + "}"},
      {"largest integer", "{" + base + R"(,"input_tokens":9223372036854775807})",
       "{" + base_json + R"(,"input_tokens":9223372036854775807})"},
      {"smallest integer", "{" + base + R"(,"input_tokens":-9223372036854775808})",
       "{" + base_json + R"(,"input_tokens":-9223372036854775808})"},
      {"overflow skipped", "{" + base + R"(,"input_tokens":9223372036854775808})",
       "{" + base_json + "}"},
      {"negative overflow skipped", "{" + base + R"(,"input_tokens":-9223372036854775809})",
       "{" + base_json + "}"},
      {"workspace roots", "{" + base + R"(,"workspace_roots": ["/a", "/b"]})",
       "{" + base_json + R"(,"workspace_roots":["/a","/b"]})"},
      {"bracket inside a root cuts it short", "{" + base + R"(,"workspace_roots":["/a]b"]})",
       "{" + base_json + "}"},
      {"roots that are not strings", "{" + base + R"(,"workspace_roots":["/a",1]})",
       "{" + base_json + "}"},
      {"roots not a list", "{" + base + R"(,"workspace_roots":"/a"})", "{" + base_json + "}"},
      {"roots never closed", "{" + base + R"(,"workspace_roots":["/a")", "{" + base_json + "}"},
  };
  for (const auto& c : cases) {
    auto got = parse_cursor_fields(c.raw);
    if (!c.want) {
      EXPECT_FALSE(got.has_value()) << c.name << ": " << (got ? to_json_text(*got) : "");
    } else {
      ASSERT_TRUE(got.has_value()) << c.name;
      EXPECT_EQ(to_json_text(*got), *c.want) << c.name;
    }
  }
}

TEST(Recovery, LogsWhichParserSalvaged) {
  struct Case {
    const char* name;
    std::string raw;
    bool salvaged;
    std::string log_line;  // empty when nothing is logged
  };
  const Case cases[] = {
      {"fallback parser", R"({"cursor_version":"1"} x)", true,
       "[cursor] using fallback parser for Cursor JSON payload"},
      {"field parser", "{\"cursor_version\":\"1\",\"hook_event_name\":\"stop\",\"p\":\"a\nb\"}",
       true, "[cursor] using field fallback parser for invalid Cursor JSON payload"},
      {"neither", "{\"cursor_version\":\"1\",\"p\":\"a\nb\"}", false, ""},
      {"no cursor text at all", R"({"a":1} x)", false, ""},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string log = (dir.path() / "hook.log").string();
    auto got = recover_cursor_payload(c.raw, log);
    EXPECT_EQ(got.has_value(), c.salvaged) << c.name;
    const std::string written = test::read_file(log);
    if (c.log_line.empty()) {
      EXPECT_EQ(written, "") << c.name;
    } else {
      // One entry: "SECONDS.mmmZ message\n".
      const std::size_t blank = written.find(' ');
      ASSERT_NE(blank, std::string::npos) << c.name;
      EXPECT_EQ(written.substr(blank + 1), c.log_line + "\n") << c.name;
    }
  }
}

}  // namespace
}  // namespace ombrel::hook
