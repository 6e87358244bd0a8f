#include "text.hpp"

#include <gtest/gtest.h>

namespace ombrel::launcher {
namespace {

TEST(Text, LossyDecodingReplacesEachBrokenSequenceOnce) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"valid text is unchanged", "a\xC3\xA9\xE2\x80\x9C\xF0\x9F\x98\x80",
       "a\xC3\xA9\xE2\x80\x9C\xF0\x9F\x98\x80"},
      {"stray continuation byte", "a\x80z", "a\xEF\xBF\xBDz"},
      {"truncated three-byte sequence", "a\xE2\x80", "a\xEF\xBF\xBD"},
      {"overlong encoding", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_lossy(c.in), c.out) << c.name;
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << c.name;
  }
}

TEST(Text, TrimsUnicodeWhiteSpaceButNotStrayBytes) {
  EXPECT_EQ(trim_space(" \t\u3000\u00a0ttys003\n\u2028"), "ttys003");
  EXPECT_EQ(trim_space("\x85x\xA0"), "\x85x\xA0");  // bytes, not U+0085 / U+00A0
  EXPECT_EQ(trim_space(" \n "), "");
  EXPECT_EQ(nth_word("HTTP/1.1\t 204  No", 1), "204");
  EXPECT_EQ(nth_word("HTTP/1.1", 1), std::nullopt);
}

TEST(Text, ParsesSixteenBitPorts) {
  struct Case {
    std::string in;
    int value;  // -1: an error
  } cases[] = {{"7337", 7337}, {"0", 0},    {"65535", 65535}, {"65536", -1},
               {"", -1},       {"80a", -1}, {"-1", -1},       {"99999999999", -1}};
  for (const auto& c : cases) {
    auto r = parse_u16(c.in);
    EXPECT_EQ(r ? r.value() : -1, c.value) << c.in;
    if (!r) {
      EXPECT_FALSE(r.error().empty()) << c.in;
    }
  }
}

}  // namespace
}  // namespace ombrel::launcher
