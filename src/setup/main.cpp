// ombrel-setup: what `ombrel setup`, `ombrel doctor` and `ombrel help` run; the launcher hands
// it the words after `ombrel` unchanged.
#include "cli.hpp"
#include "doctor_run.hpp"

int main(int argc, char** argv) {
  using namespace ombrel::setup;
  const Subcommand subcommands[] = {
      {"setup", kSetupSummary, setup_main},
      {"doctor", ombrel::doctor::kDoctorSummary, ombrel::doctor::doctor_command},
  };
  return dispatch(subcommands, argc, argv);
}
