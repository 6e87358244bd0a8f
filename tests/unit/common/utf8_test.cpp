#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ombrel::utf8 {
namespace {

TEST(Utf8, TrimUsesUnicodeWhiteSpace) {
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

TEST(Utf8, Validates) {
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
  for (const auto& c : cases) EXPECT_EQ(is_valid(c.in), c.valid) << c.name;
}

TEST(Utf8, LossyReplacesEachMaximalSubpartOnce) {
  struct Case {
    const char* name;
    std::string in;
    std::string want;
  };
  // The way JSON writers repair text (nlohmann's replace handler among them): a sequence cut
  // short is one U+FFFD, a byte that can never begin or continue one is one each.
  const Case cases[] = {
      {"stray byte",
       "a\xFF"
       "b",
       "a\uFFFD"
       "b"},
      {"valid text unchanged", "ok é", "ok é"},
      {"truncated three-byte sequence before ascii",
       "\xE2\x82"
       "A",
       "\uFFFD"
       "A"},
      {"truncated four-byte sequence at the end", "\xF0\x9F\x98", "\uFFFD"},
      {"encoded surrogate is three units", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"overlong form is two units", "\xC0\xAF", "\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(lossy(c.in), c.want) << c.name;
}

}  // namespace
}  // namespace ombrel::utf8
