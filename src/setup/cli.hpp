// The words after `ombrel`: setup [options] [AGENT...], help, --help, --version.
#pragma once

namespace ombrel::setup {

int run_cli(int argc, char** argv);

}  // namespace ombrel::setup
