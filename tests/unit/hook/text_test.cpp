#include "text.hpp"

#include <gtest/gtest.h>

namespace ombrel::hook::text {
namespace {

TEST(Text, CountsAndCutsByCharacters) {
  EXPECT_EQ(char_count("aé€😀"), 4u);
  EXPECT_EQ(take_chars("aé€😀b", 4), "aé€😀");
  EXPECT_EQ(take_chars("aé", 10), "aé");
  EXPECT_EQ(take_chars("€€", 1), "€");
  EXPECT_EQ(char_count("\xFF\xFE"), 2u);  // invalid bytes count one each
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

}  // namespace
}  // namespace ombrel::hook::text
