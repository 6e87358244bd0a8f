// ombrel-setup: what `ombrel setup`, `ombrel doctor` and `ombrel help` run. The launcher
// hands the words after `ombrel` over unchanged.
#include "cli.hpp"

int main(int argc, char** argv) {
  return ombrel::setup::run_cli(argc, argv);
}
