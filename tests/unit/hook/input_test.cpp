#include "input.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace ombrel::hook {
namespace {

TEST(Input, CleanInput) {
  struct Case {
    const char* name;
    std::string raw;
    std::string want;
  };
  const Case cases[] = {
      {"plain object", "{\"a\":1}", "{\"a\":1}"},
      {"white space around", " \n\t{\"a\":1}\r\n ", "{\"a\":1}"},
      {"byte order mark", "\uFEFF{\"a\":1}", "{\"a\":1}"},
      {"question mark", "?{\"a\":1}", "{\"a\":1}"},
      {"question mark, line break, blanks", "?\n   [1]", "[1]"},
      {"nul characters", std::string("\0\0 {}", 5), "{}"},
      {"replacement characters and bom mixed", "\uFFFD \uFEFF?{}", "{}"},
      {"only noise", std::string("\uFEFF\0 \u3000", 8), ""},
      {"empty", "", ""},
      {"text before the object stays", "data: {\"a\":1}", "data: {\"a\":1}"},
      {"question mark before text stays", "? hello", "? hello"},
      {"noise then text", "\uFEFFnot json", "not json"},
      {"nul between question mark and bracket", std::string("?\0{}", 4), "{}"},
      {"no bracket at all", "  42 ", "42"},
  };
  for (const auto& c : cases) EXPECT_EQ(clean_input(c.raw), c.want) << c.name;
}

TEST(Input, ReadAllRejectsInvalidUtf8) {
  struct Case {
    std::string bytes;
    bool ok;
  };
  const Case cases[] = {{"{\"a\":\"é\"}", true}, {"{\"a\":\"\xFF\"}", false}, {"", true}};
  for (const auto& c : cases) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
    close(fds[1]);
    auto read = read_all(fds[0]);
    close(fds[0]);
    ASSERT_EQ(read.ok(), c.ok) << c.bytes;
    if (c.ok) {
      EXPECT_EQ(read.value(), c.bytes);
    } else {
      EXPECT_EQ(read.error(), "stream did not contain valid UTF-8");
    }
  }
}

}  // namespace
}  // namespace ombrel::hook
