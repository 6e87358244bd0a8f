// A broken setup, one fault at a time: each must show as a failed row with its fix, and the
// whole run must then exit non-zero; the healthy setup passes every row.
#include "doctor.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "agents.hpp"
#include "common/version.hpp"
#include "doctor_codex_trust.hpp"
#include "formats.hpp"
#include "temp_dir.hpp"
#include "wiring_state.hpp"

namespace ombrel::doctor {
namespace {

const std::string kHook = "/opt/ombrel/bin/ombrel-hook";

struct ScriptedRunner : launcher::ProcessRunner {
  std::string answer;
  Result<launcher::Captured> run(const launcher::Command&) override {
    return launcher::Captured{{false, 0}, answer, "", ""};
  }
};

// What setup writes for the agent, with the hook at hook_path.
std::string wired(const char* agent, const std::string& hook_path) {
  return setup::wired_text(*setup::find_agent(agent), "", hook_path).take();
}

// Everything the doctor looks at, healthy until a row breaks it: Claude Code and Codex
// wired by setup, and Codex trusting every hook as its review screen would.
struct Scenario {
  test::TempDir home;
  setup::Env env{{{"HOME", home.str()}, {"PATH", ""}}};
  Status desktop = Status::success();
  std::string hook_says = "ombrel-hook " + std::string(kVersion) + "\n";
  bool tmux = true;

  Scenario() {
    home.write(".claude/settings.json", wired("claude", kHook));
    home.write(".codex/hooks.json", wired("codex", kHook));
    trust_codex();
  }

  // config.toml with the hash of every hook of ours that is in hooks.json now.
  void trust_codex() {
    const auto hooks = nlohmann::json::parse(test::read_file(home.path() / ".codex/hooks.json"));
    std::string toml;
    for (const auto& e : setup::read_wiring(*setup::find_agent("codex"), env).entries) {
      const CodexHookPlace place{e.file, e.event, *e.group, *e.handler};
      toml += "[hooks.state.\"" + codex_trust_key(place) + "\"]\ntrusted_hash = \"" +
              codex_trust_hash(hooks, place).take() + "\"\n";
    }
    home.write(".codex/config.toml", toml);
  }

  // Claude's PermissionRequest hook with a timeout of its own.
  void set_claude_permission_timeout(int seconds) {
    const auto file = home.path() / ".claude/settings.json";
    auto doc = nlohmann::json::parse(test::read_file(file));
    doc["hooks"]["PermissionRequest"][0]["hooks"][0]["timeout"] = seconds;
    home.write(".claude/settings.json", doc.dump(2));
  }

  DoctorContext context() {
    DoctorContext c;
    c.env = env;
    c.hook = kHook;
    auto runner = std::make_shared<ScriptedRunner>();
    runner->answer = hook_says;
    c.runner = runner;
    c.connect = [this](const std::string&, std::uint16_t, std::chrono::milliseconds) {
      return desktop;
    };
    c.tmux_available = [this] { return tmux; };
    c.own_version = std::string(kVersion);
    return c;
  }
};

const Check* first_failure(const std::vector<Check>& rows) {
  for (const Check& row : rows)
    if (row.verdict == Verdict::kFail) return &row;
  return nullptr;
}

TEST(Doctor, EachFaultOfABrokenSetupIsNamedWithItsFix) {
  struct Row {
    const char* fault;
    std::function<void(Scenario&)> breaks;
    const char* check;  // "" for none: the healthy setup
    const char* fix;
  } rows[] = {
      {"healthy", [](Scenario&) {}, "", ""},
      {"desktop down", [](Scenario& s) { s.desktop = fail("Connection refused"); },
       "desktop reachable", "start the Ombrel desktop app"},
      {"https server", [](Scenario& s) { s.env.vars["OMBREL_SERVER"] = "https://127.0.0.1:7337"; },
       "OMBREL_SERVER", "set OMBREL_SERVER to http://HOST:PORT"},
      {"port too large",
       [](Scenario& s) { s.env.vars["OMBREL_SERVER"] = "http://127.0.0.1:99999"; }, "OMBREL_SERVER",
       "unset it for http://127.0.0.1:7337"},
      {"line break", [](Scenario& s) { s.env.vars["OMBREL_SERVER"] = "http://h:1/\r\nX: y"; },
       "OMBREL_SERVER", "http://HOST:PORT"},
      {"not UTF-8", [](Scenario& s) { s.env.vars["OMBREL_SERVER"] = "http://h\xff:1"; },
       "OMBREL_SERVER", "http://HOST:PORT"},
      {"hook of another release", [](Scenario& s) { s.hook_says = "ombrel-hook 0.0.1\n"; },
       "ombrel-hook", "same release"},
      {"log folder anyone may change",
       [](Scenario& s) {
         const auto dir = s.home.path() / "open";
         mkdir(dir.c_str(), 0700);
         chmod(dir.c_str(), 0777);
         s.env.vars["OMBREL_HOOK_LOG"] = (dir / "hook.log").string();
       },
       "debug log", "a folder of your own"},
      {"no tmux", [](Scenario& s) { s.tmux = false; }, "tmux", "install tmux"},
      {"stale hook path",
       [](Scenario& s) {
         s.home.write(".claude/settings.json", wired("claude", "/old/bin/ombrel-hook"));
       },
       "hook path", "run `ombrel setup claude` to point them at /opt/ombrel/bin/ombrel-hook"},
      {"short permission timeout", [](Scenario& s) { s.set_claude_permission_timeout(30); },
       "timeouts", "set the timeout to 600 s"},
      {"Claude not wired", [](Scenario& s) { s.home.write(".claude/settings.json", "{}"); },
       "wired", "run `ombrel setup claude`"},
      {"Codex hooks untrusted", [](Scenario& s) { s.home.write(".codex/config.toml", ""); },
       "trust", "open Codex and trust the hooks in /hooks"},
      {"Codex hook edited after trust",
       [](Scenario& s) {
         s.home.write(".codex/hooks.json", wired("codex", "/old/bin/ombrel-hook"));
         s.trust_codex();
         s.home.write(".codex/hooks.json", wired("codex", kHook));
       },
       "trust", "open Codex and trust the hooks in /hooks"},
  };
  for (const Row& row : rows) {
    Scenario scenario;
    row.breaks(scenario);
    const std::vector<Check> checks = all_checks(scenario.context());
    const Check* failed = first_failure(checks);
    if (std::string(row.check).empty()) {
      EXPECT_EQ(failed, nullptr) << row.fault << ": " << render_table(checks);
      EXPECT_EQ(exit_status(checks), 0) << row.fault;
      continue;
    }
    ASSERT_NE(failed, nullptr) << row.fault;
    EXPECT_EQ(failed->name, row.check) << row.fault;
    EXPECT_NE(failed->fix.find(row.fix), std::string::npos) << row.fault << ": " << failed->fix;
    EXPECT_EQ(exit_status(checks), 1) << row.fault;
  }
}

}  // namespace
}  // namespace ombrel::doctor
