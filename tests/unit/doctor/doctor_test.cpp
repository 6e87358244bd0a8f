// A broken setup, one fault at a time: each must show as a failed row with its fix, and the
// whole run must then exit non-zero; the healthy setup passes every row.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "common/version.hpp"
#include "doctor.hpp"
#include "temp_dir.hpp"

namespace ombrel::doctor {
namespace {

struct ScriptedRunner : launcher::ProcessRunner {
  std::string answer;
  Result<launcher::Captured> run(const launcher::Command&) override {
    return launcher::Captured{{false, 0}, answer, "", ""};
  }
};

// Everything the doctor looks at, healthy until a row breaks it.
struct Scenario {
  test::TempDir home;
  std::map<std::string, std::string> env{{"HOME", home.str()}};
  Status desktop = Status::success();
  std::string hook_says = "ombrel-hook " + std::string(kVersion) + "\n";
  bool tmux = true;

  DoctorContext context() {
    DoctorContext c;
    c.env = [this](const char* name) -> std::optional<std::string> {
      auto found = env.find(name);
      if (found == env.end()) return std::nullopt;
      return found->second;
    };
    c.hook = std::string("/opt/ombrel/bin/ombrel-hook");
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
      {"desktop down",
       [](Scenario& s) { s.desktop = fail("Connection refused"); },
       "desktop reachable", "start the Ombrel desktop app"},
      {"https server", [](Scenario& s) { s.env["OMBREL_SERVER"] = "https://127.0.0.1:7337"; },
       "OMBREL_SERVER", "set OMBREL_SERVER to http://HOST:PORT"},
      {"port too large", [](Scenario& s) { s.env["OMBREL_SERVER"] = "http://127.0.0.1:99999"; },
       "OMBREL_SERVER", "unset it for http://127.0.0.1:7337"},
      {"line break", [](Scenario& s) { s.env["OMBREL_SERVER"] = "http://h:1/\r\nX: y"; },
       "OMBREL_SERVER", "http://HOST:PORT"},
      {"not UTF-8", [](Scenario& s) { s.env["OMBREL_SERVER"] = "http://h\xff:1"; },
       "OMBREL_SERVER", "http://HOST:PORT"},
      {"hook of another release", [](Scenario& s) { s.hook_says = "ombrel-hook 0.0.1\n"; },
       "ombrel-hook", "same release"},
      {"log folder anyone may change",
       [](Scenario& s) {
         const auto dir = s.home.path() / "open";
         mkdir(dir.c_str(), 0700);
         chmod(dir.c_str(), 0777);
         s.env["OMBREL_HOOK_LOG"] = (dir / "hook.log").string();
       },
       "debug log", "a folder of your own"},
      {"no tmux", [](Scenario& s) { s.tmux = false; }, "tmux", "install tmux"},
  };
  for (const Row& row : rows) {
    Scenario scenario;
    row.breaks(scenario);
    const std::vector<Check> checks = machine_checks(scenario.context());
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
