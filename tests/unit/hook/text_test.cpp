#include "text.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook::text {
namespace {

TEST(Text, TrimUsesUnicodeWhiteSpace) {
  struct Case {
    const char* name;
    std::string in;
    std::string want;
  };
  const Case cases[] = {
      {"ascii blanks and controls", " \t\r\n\v\fx y\n", "x y"},
      {"no-break space", "\u00A0x\u00A0", "x"},
      {"line separator and ideographic space", "\u2028\u3000x\u2029", "x"},
      {"next line and en quad range", "\u0085\u2000\u200Ax\u202F\u205F", "x"},
      {"zero width space is not white space", "\u200Bx", "\u200Bx"},
      {"byte order mark is not white space", "\uFEFFx", "\uFEFFx"},
      {"only white space", " \u3000 ", ""},
      {"invalid byte stays", "\xFF ", "\xFF"},
      {"lone continuation byte at the end", "x\x80", "x\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(trim(c.in), c.want) << c.name;
}

TEST(Text, CountsAndCutsByCharacters) {
  EXPECT_EQ(char_count("aé€😀"), 4u);
  EXPECT_EQ(take_chars("aé€😀b", 4), "aé€😀");
  EXPECT_EQ(take_chars("aé", 10), "aé");
  EXPECT_EQ(take_chars("€€", 1), "€");
  EXPECT_EQ(char_count("\xFF\xFE"), 2u);  // invalid bytes count one each
}

TEST(Text, ValidatesUtf8) {
  struct Case {
    const char* name;
    std::string in;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", "plain text that is longer than eight bytes", true},
      {"multibyte", "é€😀 and more text around it", true},
      {"replacement character itself", "\xEF\xBF\xBD", true},
      {"truncated sequence", "abc\xE2\x82", false},
      {"overlong encoding", "\xC0\xAF", false},
      {"encoded surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"stray continuation after ascii run", "abcdefghij\x80", false},
      {"empty", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.in), c.valid) << c.name;
}

TEST(Text, SplitsAtRunsOfWhiteSpace) {
  auto pieces = split_white_space("  HTTP/1.1\u00A0 200\tOK \n");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], "HTTP/1.1");
  EXPECT_EQ(pieces[1], "200");
  EXPECT_EQ(pieces[2], "OK");
  EXPECT_TRUE(split_white_space(" \n ").empty());
}

TEST(Text, UpperCaseMappingMayGrow) {
  EXPECT_EQ(to_upper(U'a'), U"A");
  EXPECT_EQ(to_upper(U'A'), U"A");
  EXPECT_EQ(to_upper(U'7'), U"7");
  EXPECT_EQ(to_upper(U'ß'), U"SS");
  EXPECT_EQ(to_upper(U'ǆ'), U"Ǆ");
  EXPECT_EQ(to_upper(U'ā'), U"Ā");  // alternating upper/lower block
  EXPECT_EQ(to_upper(U'ω'), U"Ω");
  EXPECT_EQ(to_upper(U'ﬃ'), U"FFI");
}

TEST(Text, LossyReplacesInvalidBytes) {
  EXPECT_EQ(lossy_utf8("a\xFF"
                       "b"),
            "a\uFFFD"
            "b");
  EXPECT_EQ(lossy_utf8("ok é"), "ok é");
}

}  // namespace
}  // namespace ombrel::hook::text
