// The hashes below are the ones Codex 0.171.0 itself stored in config.toml when its review
// screen trusted these hooks (run offline in a scratch CODEX_HOME).
#include <gtest/gtest.h>

#include "doctor_codex_trust.hpp"
#include "temp_dir.hpp"

namespace ombrel::doctor {
namespace {

const char* const kFile = "/home/u/.codex/hooks.json";

TEST(CodexTrust, HashesAreTheOnesCodexStored) {
  const auto file = nlohmann::json::parse(R"({"hooks": {
    "PermissionRequest": [{"matcher": "*", "hooks": [
      {"type": "command", "command": "/opt/x/ombrel-hook --source codex", "timeout": 600}]}],
    "Stop": [
      {"hooks": [{"type": "command", "command": "/opt/x/ombrel-hook --source codex"}]},
      {"hooks": [{"type": "command", "command": "echo a", "timeout": 5},
                 {"type": "command", "command": "echo b"}]},
      {"matcher": "*", "hooks": [{"type": "command", "command": "echo c", "statusMessage": "hi"}]},
      {"matcher": "", "hooks": [{"type": "command", "command": "echo d", "timeout": 0,
                                 "async": true}]}],
    "PreToolUse": [{"hooks": [{"type": "command", "command": "echo e"}]}],
    "SessionEnd": [{"hooks": [{"type": "command", "command": "echo f", "timeout": 600}]},
                   {"hooks": [{"type": "command", "command": "echo g", "timeout": 2}]}],
    "Interrupt": [{"hooks": [{"type": "command", "command": "echo h"}]},
                  {"hooks": [{"type": "command", "command": "echo i", "timeout": 600}]}]}})");
  struct Row {
    const char* event;
    std::size_t group, handler;
    const char* hash;  // after "sha256:"
  } rows[] = {
      {"PermissionRequest", 0, 0,
       "1187113f2a27dff6f02a751dfc66b824b77c8ba36ac6480ceee1e773a0161c9b"},
      {"Stop", 0, 0, "e8dbfdc7c7cdcc2aa7589687efe7c7b2fd29a20db0d89bb12c2e14a07c11ae89"},
      {"Stop", 1, 0, "2bd201336ae7a0be23319b49403c45a705b1ef0ea3beff8639903f107aac58fa"},
      {"Stop", 1, 1, "bebc61543262d405dfac96ec65b8e84cc20c58f81fd7e463a2181a40c41f7a82"},
      // A matcher on Stop is ignored and not hashed; statusMessage is; timeout 0 counts as 1.
      {"Stop", 2, 0, "0ad4c77e43f94518d2eac1be2b1219606a293e1d9111bf52f847a2bb99310563"},
      {"Stop", 3, 0, "5f56ae99b4293278e5b1098f5d84eaf93ffd16888f2aeccc18c0901a0c8860ef"},
      {"PreToolUse", 0, 0, "309dd0b61f82ffd0f75622fe7f0aa98f98fc476d9f1dc3787d4ed1404d20aaee"},
      // SessionEnd and Interrupt: cut to 3 s, 1 s when none is given.
      {"SessionEnd", 0, 0, "007798aacfbdafa4b7052db677448101d3d2ec388c891e0a95053dd0c9098ee4"},
      {"SessionEnd", 1, 0, "cde4aec64dc2ba72d3027fede8436423926f2b7eaf95d437efed5e4daf66b9f8"},
      {"Interrupt", 0, 0, "b80aad427afc588941ede478dff6cfd4a85837293710fbfcd6c770a045f23a90"},
      {"Interrupt", 1, 0, "4ade3bc13d25fce0e2345f97915af7a3e36a13bb584f046cd5d395c3c07dc7d3"},
  };
  for (const Row& row : rows) {
    const CodexHookPlace place{kFile, row.event, row.group, row.handler};
    auto hash = codex_trust_hash(file, place);
    ASSERT_TRUE(hash) << row.event << row.group << row.handler;
    EXPECT_EQ(hash.value(), std::string("sha256:") + row.hash) << codex_trust_key(place);
  }
  EXPECT_EQ(codex_trust_key({kFile, "PermissionRequest", 0, 1}),
            "/home/u/.codex/hooks.json:permission_request:0:1");
}

// Inline hooks in config.toml: keyed by that file's path and hashed as if in hooks.json.
TEST(CodexTrust, InlineTomlHooksHashAsCodexStoredThem) {
  test::TempDir dir;
  const std::string file = dir.write("config.toml", R"(
[[hooks.PermissionRequest]]
matcher = "*"
[[hooks.PermissionRequest.hooks]]
type = "command"
command = "/opt/x/ombrel-hook --source codex"
timeout = 600

[[hooks.Stop]]
[[hooks.Stop.hooks]]
type = "command"
command = "/opt/x/ombrel-hook --source codex"

[hooks.state."elsewhere:stop:0:0"]
trusted_hash = "sha256:0"
)")
                               .string();
  auto hooks = read_codex_hooks(file);
  ASSERT_TRUE(hooks) << hooks.error();
  EXPECT_EQ(codex_trust_hash(hooks.value(), {file, "PermissionRequest", 0, 0}).take(),
            "sha256:1187113f2a27dff6f02a751dfc66b824b77c8ba36ac6480ceee1e773a0161c9b");
  EXPECT_EQ(codex_trust_hash(hooks.value(), {file, "Stop", 0, 0}).take(),
            "sha256:e8dbfdc7c7cdcc2aa7589687efe7c7b2fd29a20db0d89bb12c2e14a07c11ae89");
  EXPECT_EQ(read_codex_trust(file).take().at("elsewhere:stop:0:0"), "sha256:0");
}

}  // namespace
}  // namespace ombrel::doctor
