#include "doctor_run.hpp"

#include "common/version.hpp"
#include "doctor.hpp"
#include "launch.hpp"
#include "self_path.hpp"

namespace ombrel::doctor {

const std::string_view kDoctorSummary =
    "  ombrel doctor [--json]            check the desktop, the hook, its log, tmux and every\n"
    "                                    agent's wiring; exit status 0 when all pass\n";

int doctor_command(const std::vector<std::string>& words, const char* argv0) {
  DoctorContext context;
  context.env = setup::Env::from_process();
  context.hook = setup::hook_beside(argv0);
  auto runner = std::make_shared<launcher::PosixProcessRunner>();
  context.runner = runner;
  context.connect = connect_and_close;
  context.tmux_available = [runner] {
    return launcher::tmux_available(launcher::kTmuxPaths, *runner);
  };
  context.own_version = std::string(kVersion);
  return doctor_main(words, context);
}

}  // namespace ombrel::doctor
