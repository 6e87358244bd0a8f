#include "byte_scan.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/utf8.hpp"

namespace ombrel::hook {
namespace {

// The block-at-a-time scans against their definitions, a byte at a time, on texts whose
// special bytes fall at every offset of the sixteen- and eight-byte blocks.
TEST(ByteScan, AgreesWithTheBytewiseDefinitions) {
  const std::string pieces[] = {"a",
                                "abcdefg",
                                "0123456789abcdef",
                                "\"",
                                "\\",
                                "\n",
                                "\t",
                                "\x01",
                                "\x1f",
                                " ",
                                "\x7f",
                                "\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xFF",
                                "\xC3",
                                "\xED\xA0\x80",
                                "\xF4\x90\x80\x80",
                                "\xE0\x80\xAF",
                                "\x80",
                                std::string(1, '\0')};
  std::mt19937 random(11);  // fixed seed: every run checks the same texts
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const auto length = random() % 14;
    for (unsigned k = 0; k < length; ++k) text += pieces[random() % std::size(pieces)];
    const std::string name = "text #" + std::to_string(round) + " " + testing::PrintToString(text);

    EXPECT_EQ(scan::is_valid_utf8(text), utf8::is_valid(text)) << name;
    std::size_t growth = 0;
    for (unsigned char c : text) {
      const bool named =
          c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
      growth += named ? 1 : c < 0x20 ? 5 : 0;
    }
    if (utf8::is_valid(text)) {
      EXPECT_EQ(scan::escape_growth(text), growth) << name;
    }

    const std::size_t from = text.empty() ? 0 : random() % text.size();
    auto first_special = [&](bool non_ascii) {
      std::size_t i = from;
      while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == '"' || c == '\\' || (non_ascii && c >= 0x80)) break;
        ++i;
      }
      return i;
    };
    EXPECT_EQ(scan::next_special<false>(text.data(), from, text.size()), first_special(false))
        << name;
    EXPECT_EQ(scan::next_special<true>(text.data(), from, text.size()), first_special(true))
        << name;
    // The copy stops at the same byte, with exactly the bytes before it written.
    std::string copy(text.size(), '?');
    std::size_t p = from;
    char* w = copy.data();
    scan::copy_plain<true>(text.data(), p, text.size(), w);
    EXPECT_EQ(p, first_special(true)) << name;
    EXPECT_EQ(static_cast<std::size_t>(w - copy.data()), p - from) << name;
    EXPECT_EQ(copy.substr(0, p - from), text.substr(from, p - from)) << name;
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace ombrel::hook
