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
    // The copy, its handler declining every special byte, stops at the same byte, with
    // exactly the bytes before it written.
    std::string copy(text.size(), '?');
    std::size_t p = from;
    char* w = copy.data();
    scan::copy_runs<true>(text.data(), p, text.size(), w, w + (text.size() - from),
                          [](std::size_t&, char*&) { return false; });
    EXPECT_EQ(p, first_special(true)) << name;
    EXPECT_EQ(static_cast<std::size_t>(w - copy.data()), p - from) << name;
    EXPECT_EQ(copy.substr(0, p - from), text.substr(from, p - from)) << name;
    // Copying with every special byte written as a backslash and itself, a backslash and
    // the byte after it taken as one (as the reader takes an escape), into a window of any
    // size: what is written is the escaped text of what was read, and the copy stops at the
    // end, at a special byte it left, or with the window full.
    const std::size_t room = random() % (2 * text.size() + 2);
    std::string out(room + 2, '?');
    p = from;
    w = out.data();
    scan::copy_runs<false>(text.data(), p, text.size(), w, out.data() + room,
                           [&](std::size_t& at, char*& to) {
                             const bool pair = text[at] == '\\' && at + 1 < text.size();
                             *to++ = '\\';
                             *to++ = text[pair ? ++at : at];
                             ++at;
                             return true;
                           });
    std::string escaped;
    for (std::size_t i = from; i < p; ++i) {
      if (scan::is_special<false>(static_cast<unsigned char>(text[i]))) {
        escaped += '\\';
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
      }
      escaped += text[i];
    }
    EXPECT_EQ(out.substr(0, static_cast<std::size_t>(w - out.data())), escaped) << name;
    EXPECT_TRUE(p == text.size() || scan::is_special<false>(static_cast<unsigned char>(text[p])) ||
                w >= out.data() + room)
        << name;
    EXPECT_EQ(out.back(), '?') << name;
    if (HasFailure()) break;
  }
}

// Every well-formed and broken form at every offset of a 48-byte text, so that each one
// falls at each place of a block and across the edges between blocks, with the text ending
// right after it (a sequence cut by the end) or going on in ASCII, after ASCII or after
// two-byte letters.
TEST(ByteScan, Utf8FormsAtEveryOffsetOfTheBlocks) {
  struct Row {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Row rows[] = {
      {"two bytes", "\xC3\xA9", true},
      {"three bytes", "\xE2\x82\xAC", true},
      {"four bytes", "\xF0\x9F\x98\x80", true},
      {"lowest after E0", "\xE0\xA0\x80", true},
      {"highest before the surrogates", "\xED\x9F\xBF", true},
      {"lowest after F0", "\xF0\x90\x80\x80", true},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
      {"overlong two (C0)", "\xC0\xAF", false},
      {"overlong two (C1)", "\xC1\xBF", false},
      {"overlong three", "\xE0\x9F\xBF", false},
      {"overlong four", "\xF0\x8F\xBF\xBF", false},
      {"first surrogate", "\xED\xA0\x80", false},
      {"last surrogate", "\xED\xBF\xBF", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"F5 lead", "\xF5\x80\x80\x80", false},
      {"FF", "\xFF", false},
      {"stray continuation", "\x80", false},
      {"one continuation too many", "\xC3\xA9\xA9", false},
      {"two cut after one", "\xC3", false},
      {"three cut after two", "\xE2\x82", false},
      {"four cut after three", "\xF0\x9F\x98", false},
      {"lead where a continuation belongs", "\xE2\xC3\xA9", false},
  };
  for (const Row& row : rows) {
    for (const bool letters_before : {false, true}) {
      for (std::size_t at = 0; at + row.bytes.size() <= 48; ++at) {
        std::string before;
        while (letters_before && before.size() + 2 <= at) before += "\xD0\xB6";
        before.resize(at, 'x');
        for (const bool ends_there : {false, true}) {
          std::string text = before + row.bytes;
          if (!ends_there) text.resize(48, 'y');
          ASSERT_EQ(utf8::is_valid(text), row.valid) << row.name << " at " << at;
          EXPECT_EQ(scan::is_valid_utf8(text), row.valid)
              << row.name << " at " << at << (letters_before ? " after letters" : "")
              << (ends_there ? ", text ends there" : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace ombrel::hook
