// `ombrel doctor`: every check in one table (or JSON), exit status 0 only when none failed.
// Everything it looks at comes in through DoctorContext, so that tests can stage a broken
// setup without a network, a desktop or the user's home.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"
#include "doctor_check.hpp"
#include "doctor_server.hpp"
#include "environment.hpp"
#include "process.hpp"

namespace ombrel::doctor {

struct DoctorContext {
  setup::Env env;  // HOME, the agents' folders and programs, OMBREL_SERVER, ...
  Result<std::string> hook = fail("not looked for");  // the hook setup wires, or why none
  std::shared_ptr<launcher::ProcessRunner> runner;    // runs `ombrel-hook --version`
  Connector connect;                                  // reaches the desktop
  std::function<bool()> tmux_available;
  std::string own_version;
};

// The machine-wide rows, in the order the table shows them.
std::vector<Check> machine_checks(const DoctorContext& context);
// The machine-wide rows, then every agent's.
std::vector<Check> all_checks(const DoctorContext& context);

// `ombrel-setup doctor [--json]`; args are the words after "doctor". Exit status 0 when
// every check passed, 1 when one failed, 2 for a word it does not know.
int doctor_main(const std::vector<std::string>& args, const DoctorContext& context);

}  // namespace ombrel::doctor
