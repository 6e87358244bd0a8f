#include "options.hpp"

#include <gtest/gtest.h>

namespace ombrel::devserver {
namespace {

Result<Options> parse(std::vector<std::string> args) {
  args.insert(args.begin(), "ombrel-devserver");
  return parse_options(args);
}

TEST(ParseOptions, EveryOptionInBothSpellings) {
  auto parsed = parse({"--listen", "[::1]:0", "--events=/tmp/e.jsonl", "--decide", "deny",
                       "--deny-tool", "Bash", "--deny-tool=Write", "--answer", "2"});
  ASSERT_TRUE(parsed) << parsed.error();
  const Options& o = parsed.value();
  EXPECT_EQ(url_of(o.listen), "http://[::1]:0");
  EXPECT_EQ(o.events_path, "/tmp/e.jsonl");
  EXPECT_EQ(o.mode, Mode::Deny);
  EXPECT_EQ(o.deny_tools, (std::vector<std::string>{"Bash", "Write"}));
  EXPECT_EQ(o.answer, 2u);
  EXPECT_EQ(url_of(parse({}).value().listen), "http://127.0.0.1:7337");
  EXPECT_EQ(parse({"--help", "--bogus"}).value().action, Action::Help);
  // Help and version come before anything else on the line, mistakes included.
  EXPECT_EQ(parse({"--bogus", "--listen", "--help"}).value().action, Action::Help);
  EXPECT_EQ(parse({"--answer", "0", "--version"}).value().action, Action::Version);
  EXPECT_EQ(parse({"--version", "-h"}).value().action, Action::Help);
}

TEST(ParseOptions, Mistakes) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus=1"}, "unknown option --bogus"},
      {{"serve"}, "unexpected argument"},
      {{"--listen"}, "--listen needs a value"},
      {{"--listen", "7337"}, "HOST:PORT"},
      {{"--listen", "::1:7337"}, "brackets"},
      {{"--listen", ":7337"}, "host is missing"},
      {{"--listen", "localhost:65536"}, "0 to 65535"},
      {{"--listen", "localhost:80x"}, "0 to 65535"},
      {{"--decide=ALLOW"}, "allow, deny, passthrough or ask"},
      {{"--deny-tool="}, "needs a tool name"},
      {{"--answer", "-1"}, "needs an option number"},
      {{"--answer", "0"}, "1 for the first option"},
  };
  for (const auto& [args, error] : cases) {
    auto parsed = parse(args);
    ASSERT_FALSE(parsed) << args.back();
    EXPECT_NE(parsed.error().find(error), std::string::npos) << parsed.error();
  }
}

}  // namespace
}  // namespace ombrel::devserver
