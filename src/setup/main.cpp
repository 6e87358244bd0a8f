// ombrel-setup: what `ombrel setup` and `ombrel help` run; the launcher hands it the words
// after `ombrel` unchanged.
#include "cli.hpp"

int main(int argc, char** argv) {
  using namespace ombrel::setup;
  const Subcommand subcommands[] = {
      {"setup", kSetupSummary, setup_main},
  };
  return dispatch(subcommands, argc, argv);
}
